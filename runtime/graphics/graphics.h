// Graphics drivers and contexts: the driver registry, the current context, the application window
// and frame presenting with software pacing.
#pragma once

#include <cstdint>
#include <vector>

#include "runtime/core/object.h"

namespace kiln {

// Bits of the graphics flags passed to context creation and kept with the context.
inline constexpr int BackBufferFlag = 2;
inline constexpr int AlphaBufferFlag = 4;
inline constexpr int DepthBufferFlag = 8;
inline constexpr int StencilBufferFlag = 16;
inline constexpr int AccumBufferFlag = 32;

class TGraphics;

// A display mode; depth is in bits per pixel, hertz 0 when the rate is unknown.
class TGraphicsMode : public TObject {
 public:
  int width = 0;
  int height = 0;
  int depth = 0;
  int hertz = 0;
  // "640,480,32 60Hz"
  Text ToString() const override;
};

class TGraphicsDriver : public TObject {
 public:
  virtual std::vector<Ref<TGraphicsMode>> GraphicsModes() = 0;
  // `widget` is a window of the platform's window system (an X window id on X11).
  virtual Ref<TGraphics> AttachGraphics(intptr_t widget, int flags) = 0;
  virtual Ref<TGraphics> CreateGraphics(int width, int height, int depth, int hertz, int flags) = 0;
  virtual int SetGraphics(const Ref<TGraphics>& g) = 0;
  virtual int Flip(int sync) = 0;
};

class TGraphics : public TObject {
 public:
  // Reserved slot; does nothing.
  virtual int _pad() { return 0; }
  virtual Ref<TGraphicsDriver> Driver() = 0;
  virtual int GetSettings(int& width, int& height, int& depth, int& hertz, int& flags) = 0;
  virtual int Close() = 0;
};

// Run-once initialiser of the graphics module (allocates the flip hook).
void InitGraphicsModule();

void InstallGraphicsDriver(const Ref<TGraphicsDriver>& driver, int flags);
Ref<TGraphicsDriver> InstalledGraphicsDriver();
int InstalledDriverFlags();

std::vector<Ref<TGraphicsMode>> ListGraphicsModes();
int GraphicsModeCount();
// Fields of mode `index`; false (outputs untouched) when the index is out of range.
bool GraphicsModeAt(int index, int& width, int& height, int& depth, int& hertz);
// 1 if a mode matches every non-zero argument.
int HasGraphicsMode(int width, int height, int depth, int hertz);

// The empty Ref when the driver cannot make the context (anything it throws is caught).
Ref<TGraphics> OpenGraphicsContext(int width, int height, int depth, int hertz, int flags);
Ref<TGraphics> AttachGraphicsContext(intptr_t widget, int flags);
// Makes g current (its driver becomes the installed one); an empty or closed g selects nothing.
void SelectGraphicsContext(const Ref<TGraphics>& g);
void CloseGraphicsContext(const Ref<TGraphics>& g);
Ref<TGraphics> CurrentGraphicsContext();

int CurrentGraphicsWidth();
int CurrentGraphicsHeight();
int CurrentGraphicsDepth();
int CurrentGraphicsHertz();
int CurrentGraphicsFlags();

// Opens the application window (depth 0: on the desktop, else full screen) and makes it current;
// a window opened before is closed first. The empty Ref when it cannot be opened.
Ref<TGraphics> OpenGraphicsWindow(int width, int height, int depth, int hertz, int flags);
void CloseGraphicsWindow();
Ref<TGraphics> WindowGraphics();

// Presents the current context after running the flip hook. sync -1 paces the application window
// to its refresh rate; other values go to the driver's Flip as they are.
void PresentFrame(int sync);

// Generation of graphics contexts; never 0.
int GraphicsSeq();
// Advances the generation (skipping 0) and returns the new value.
int BumpGraphicsSeq();
// The hook id run before every present.
int FlipHookId();

}  // namespace kiln
