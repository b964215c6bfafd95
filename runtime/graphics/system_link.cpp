#include "runtime/graphics/system_link.h"

#include "runtime/core/runtime.h"
#include "runtime/system/hooks.h"
#include "runtime/system/input.h"
#include "runtime/system/system.h"

namespace kiln::graphics_link {

void InitSystemModules() {
  InitCoreModule();
  InitSystemModule();
  InitInputState();
}

int NewFlipHookId() { return NewHookId(); }
void RunHooks(int hookId) { CallHooks(hookId, Ref<TObject>()); }
void StartTracking() { StartInputTracking(Ref<TObject>()); }
void StopTracking() { StopInputTracking(); }
void MovePointer(int x, int y) { SetPointerPosition(x, y); }
void RunAtExit(void (*handler)()) { AddExitHandler(handler); }

}  // namespace kiln::graphics_link
