#include "app/patcher.h"

#include "app/export.h"
#include "app/game_folder.h"
#include "app/payload_blocks.h"
#include "app/status_screen.h"
#include "runtime/core/runtime.h"
#include "runtime/draw2d/draw2d.h"
#include "runtime/filesystem/filesystem.h"
#include "runtime/font/font.h"
#include "runtime/graphics/graphics.h"
#include "runtime/pixmap/pixmap_loaders.h"
#include "runtime/pixmap/pixmap_module.h"
#include "runtime/stream/stream_module.h"
#include "runtime/system/event_queue.h"

namespace zunto {
namespace {

// Built once by BuildLazyGlobals, never released.
int32_t lazyInitMask = 0;
Text windowTitleText;
kiln::Ref<kiln::TImage> backgroundImage;
kiln::Ref<kiln::TImageFont> statusFont;

void BuildLazyGlobals() {
  if (!(lazyInitMask & kTitleBuilt)) {
    windowTitleText = Text("Zunto Patcher v") + PatcherVersion();
    lazyInitMask |= kTitleBuilt;
  }
  if (!(lazyInitMask & kBackgroundBuilt)) {
    backgroundImage = kiln::OpenImage(Text("incbin::./data/hg_grafik.jpg"), -1);
    lazyInitMask |= kBackgroundBuilt;
  }
  if (!(lazyInitMask & kFontBuilt)) {
    statusFont = kiln::OpenImageFont(Text("incbin::./data/arial.ttf"), 14, 5);
    lazyInitMask |= kFontBuilt;
  }
}

}  // namespace

void InitRuntimeModules() {
  kiln::InitCoreModule();
  PatcherStartStub();
  kiln::InitStreamModule();
  kiln::InitFileSystemModule();
  kiln::InitPixmapModule();
  kiln::InitBmpLoader();
  kiln::InitEventQueue();
  kiln::InitFreeTypeFontModule();
  kiln::InitJpegLoader();
  kiln::InitPngLoader();
  kiln::InitTgaLoader();
  kiln::InitGLDraw2DModule();
}

// Everything before the window: the registrations, the module initialisers, the lazy globals, the
// folder check and the export.
static void PreparePatchRun() {
  RegisterPayloadResources();
  InitRuntimeModules();
  BuildLazyGlobals();
  if (IsGameFolder()) {
    // The export is all or nothing: a failed one changed nothing, and the screen says why.
    if (ExportPayload() == 0) SetPatchDone(1);
  }
}

int PatcherStartStub() {
  static int started = 0;
  if (started) return 0;
  started = 1;
  kiln::InitCoreModule();
  RunPatcher();
  return 0;
}

int RunPatcher() {
  static int running = 0;
  if (running) return 0;
  running = 1;
  PreparePatchRun();
  kiln::SetApplicationTitle(windowTitleText);
  if (!kiln::OpenGraphicsWindow(640, 480, 0, 60, 0)) ReportStatusWithoutWindow();
  kiln::UseImageFont(statusFont);
  RunStatusScreen();
}

int32_t LazyInitMask() { return lazyInitMask; }
const Text& WindowTitleText() { return windowTitleText; }
const kiln::Ref<kiln::TImage>& BackgroundImage() { return backgroundImage; }
const kiln::Ref<kiln::TImageFont>& StatusFont() { return statusFont; }

}  // namespace zunto
