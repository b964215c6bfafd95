// The patch program's entry points and the globals its status screen draws.
#pragma once

#include <cstdint>

#include "runtime/draw2d/image.h"
#include "runtime/font/image_font.h"

namespace zunto {

using kiln::Text;

// Runs the core initialiser and RunPatcher once; returns 0.
int PatcherStartStub();
// Registers the payload, initialises the runtime modules, checks the folder, exports the payload and
// shows the status screen. Returns 0 only when it has run before; otherwise it ends the process.
int RunPatcher();
// The module initialisers, in start-up order: the GL 2D driver is installed last, so that windows
// open with it.
void InitRuntimeModules();

// Bits of LazyInitMask: which of the globals below are built.
inline constexpr int32_t kTitleBuilt = 1;
inline constexpr int32_t kBackgroundBuilt = 2;
inline constexpr int32_t kFontBuilt = 4;
int32_t LazyInitMask();
// "Zunto Patcher v" + PatcherVersion.
const Text& WindowTitleText();
const kiln::Ref<kiln::TImage>& BackgroundImage();
const kiln::Ref<kiln::TImageFont>& StatusFont();

}  // namespace zunto
