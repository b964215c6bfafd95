// The 2D drawing layer: drawing state, primitives, images and text on the current 2D context.
//
// Every function acts on the current 2D context and its driver. With no 2D context current the
// drawing and state calls do nothing and the getters give the defaults (white, alpha 1, BlendMask,
// black clear colour, line width 1, no rotation, scale 1, clip and resolution 0 x 0).
// Coordinates are logical pixels (by default the context's), x to the right, y downward.
#pragma once

#include <vector>

#include "runtime/draw2d/flat2d_driver.h"
#include "runtime/draw2d/image.h"
#include "runtime/font/image_font.h"

namespace kiln {

// Run-once initialisers: the 2D layer, and the GL 2D module, which installs the GL 2D driver as
// the graphics driver (default flags BackBufferFlag) so that windows open with it.
void InitDraw2DModule();
void InitGLDraw2DModule();

void ClearScreen();
void SetClearColor(int r, int g, int b);
void GetClearColor(int& r, int& g, int& b);
// Components are clamped to 0..255 by the driver.
void SetDrawColor(int r, int g, int b);
void GetDrawColor(int& r, int& g, int& b);
void SetDrawAlpha(float alpha);
float GetDrawAlpha();
void SetBlendMode(int mode);
int GetBlendMode();
void SetLineThickness(float width);
float GetLineThickness();
void SetDrawOrigin(float x, float y);
void GetDrawOrigin(float& x, float& y);
// The point of primitives and text that lands on the drawing position (images use their own).
void SetDrawHandle(float x, float y);
void GetDrawHandle(float& x, float& y);
void SetDrawRotation(float degrees);
float GetDrawRotation();
void SetDrawScale(float sx, float sy);
void GetDrawScale(float& sx, float& sy);
void SetDrawTransform(float degrees, float sx, float sy);
// In logical pixels.
void SetClipRect(int x, int y, int w, int h);
void GetClipRect(int& x, int& y, int& w, int& h);

void SetLogicalResolution(float width, float height);
float LogicalWidth();
float LogicalHeight();
float LogicalMouseX();
float LogicalMouseY();
float LogicalMouseXSpeed();
float LogicalMouseYSpeed();
void MoveLogicalMouse(float x, float y);

void PlotPoint(float x, float y);
void DrawFilledRect(float x, float y, float w, float h);
void DrawFilledOval(float x, float y, float w, float h);
// With `lastPixel` the end point is plotted too.
void DrawLineSegment(float x, float y, float x2, float y2, int lastPixel = 1);
// x, y pairs; fewer than three points or an odd count draws nothing.
void DrawFilledPoly(const std::vector<float>& xy);

void DrawImageAt(const Ref<TImage>& image, float x, float y, int frame = 0);
void DrawImageScaled(const Ref<TImage>& image, float x, float y, float w, float h, int frame = 0);
// The source rectangle (sx, sy, sw, sh) onto w x h, with its own handle (hx, hy) in source pixels.
void DrawImagePart(const Ref<TImage>& image, float x, float y, float w, float h, float sx, float sy,
                   float sw, float sh, float hx = 0, float hy = 0, int frame = 0);
// Covers the clip rectangle with copies of the image, one of them at (x, y).
void TileImageFill(const Ref<TImage>& image, float x = 0, float y = 0, int frame = 0);

// (x, y) is the top-left corner of the text's first line.
void DrawTextLine(const Text& text, float x, float y);
int MeasureTextWidth(const Text& text);
int MeasureTextHeight();
Ref<TImageFont> OpenImageFont(const Url& source, int size, int style);
// The empty font selects the built-in one.
void UseImageFont(const Ref<TImageFont>& font);
Ref<TImageFont> CurrentImageFont();

// flags -1: the automatic image flags (MaskedImageFlag | FilteredImageFlag until changed).
Ref<TImage> OpenImage(const Url& source, int flags = -1);
Ref<TImage> OpenImageStrip(const Url& source, int cellWidth, int cellHeight, int first, int count,
                           int flags = -1);
// Frames start transparent black. Empty for a size that is not positive or too large for pixels.
Ref<TImage> NewBlankImage(int width, int height, int frameCount = 1, int flags = -1);
void PlaceImageHandle(const Ref<TImage>& image, float x, float y);
void CenterImageHandle(const Ref<TImage>& image);
void SetAutoCenterHandle(int on);
void SetAutoImageFlags(int flags);
void SetImageMaskColor(int r, int g, int b);
void GetImageMaskColor(int& r, int& g, int& b);
Ref<TPixmap> LockImagePixels(const Ref<TImage>& image, int frame = 0, int read = 1, int write = 1);
void UnlockImagePixels(const Ref<TImage>& image, int frame = 0);
// The screen rectangle at (x, y) of the image's size becomes the frame's pixels.
void GrabScreenIntoImage(const Ref<TImage>& image, float x, float y, int frame = 0);
// Pixmaps are drawn and grabbed in context pixels, unscaled, untransformed.
void DrawPixmapAt(const Ref<TPixmap>& pixmap, int x, int y);
// Empty with no 2D context current.
Ref<TPixmap> GrabScreenPixmap(int x, int y, int w, int h);

}  // namespace kiln
