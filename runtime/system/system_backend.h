// What a window-system backend of the system module provides.
#pragma once

#include "runtime/system/system.h"

namespace kiln {

// The backend's driver; made once by InitSystemModule.
Ref<TSystemDriver> CreatePlatformSystemDriver();
// Wakes a Wait that is blocked in the backend. Safe from any thread.
void WakeSystemWait();

}  // namespace kiln
