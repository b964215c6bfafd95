// What a window-system backend of the system module provides.
#pragma once

#include "runtime/core/runtime.h"
#include "runtime/system/system.h"

namespace kiln {

// The backend's driver; made once by InitSystemModule.
Ref<TSystemDriver> CreatePlatformSystemDriver();
// Shows the core's fault report as a one-button box; never hangs without a display.
FaultMessageBox PlatformFaultMessageBox();
// Wakes a Wait that is blocked in the backend. Safe from any thread.
void WakeSystemWait();

}  // namespace kiln
