// Shared pieces of the font tests: the payload's outline font, a small bitmap font written as BDF
// text, resources registered from bytes, and a 2D driver that records what text drawing asks of it.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "runtime/draw2d/flat2d_driver.h"
#include "runtime/font/freetype_font.h"
#include "runtime/font/image_font.h"
#include "runtime/stream/resources.h"
#include "tests/support/temp_dir.h"

namespace kiln::test {

inline std::string PayloadFontPath() { return std::string(KILN_TEST_DATA_DIR) + "/../../payload/arial.ttf"; }

inline const std::string& PayloadFontBytes() {
  static const std::string bytes = ReadFileBytes(PayloadFontPath());
  return bytes;
}

// Registers `bytes` under a name made unique with a counter and returns "incbin::<name>". The bytes
// stay alive for the process, as resources must.
inline Text RegisterFontBytes(const std::string& stem, std::string bytes) {
  static std::deque<std::string> kept;
  static int counter = 0;
  kept.push_back(std::move(bytes));
  std::string name = "font-test/" + stem + "-" + std::to_string(++counter);
  AddEmbeddedResource(Text::FromLatin1(name), kept.back().data(), static_cast<int32_t>(kept.back().size()));
  return Text::FromLatin1("incbin::" + name);
}

inline const Text& PayloadFontUrl() {
  static const Text url = RegisterFontBytes("arial", PayloadFontBytes());
  return url;
}

// A bitmap-only font with one strike of `pixelSize` (ascent 12, descent 4): a space of 1 x 1 blank
// pixel, and "A", 6 x 3 pixels standing on the baseline one column right of the pen:
//   ##...#
//   .#..#.
//   ######
// Both advance 8 pixels. No other character has a glyph.
inline std::string SmallBdf(int pixelSize = 16) {
  std::string size = std::to_string(pixelSize);
  return "STARTFONT 2.1\n"
         "FONT -kiln-test-medium-r-normal--" + size + "-160-72-72-c-80-iso10646-1\n"
         "SIZE " + size + " 72 72\n"
         "FONTBOUNDINGBOX 8 16 0 -4\n"
         "STARTPROPERTIES 5\n"
         "PIXEL_SIZE " + size + "\n"
         "FONT_ASCENT 12\n"
         "FONT_DESCENT 4\n"
         "CHARSET_REGISTRY \"ISO10646\"\n"
         "CHARSET_ENCODING \"1\"\n"
         "ENDPROPERTIES\n"
         "CHARS 2\n"
         "STARTCHAR space\nENCODING 32\nSWIDTH 500 0\nDWIDTH 8 0\nBBX 1 1 0 0\nBITMAP\n00\nENDCHAR\n"
         "STARTCHAR A\nENCODING 65\nSWIDTH 500 0\nDWIDTH 8 0\nBBX 6 3 1 0\nBITMAP\nC4\n48\nFC\nENDCHAR\n"
         "ENDFONT\n";
}

// One Draw call of a frame.
struct FrameDraw {
  const TPixmap* pixmap;
  float x0, y0, x1, y1, tx, ty, sx, sy, sw, sh;
};

class RecordingDriver;

class RecordingFrame : public TImageFrame {
 public:
  RecordingFrame(RecordingDriver* driver, Ref<TPixmap> pixmap) : driver_(driver), pixmap_(std::move(pixmap)) {}
  void Draw(float x0, float y0, float x1, float y1, float tx, float ty, float sx, float sy, float sw,
            float sh) override;

 private:
  RecordingDriver* driver_;
  Ref<TPixmap> pixmap_;
};

// Builds recording frames, except for pixmaps of the refused size; every other operation is a no-op.
class RecordingDriver : public TFlat2DDriver {
 public:
  std::vector<Ref<TGraphicsMode>> GraphicsModes() override { return {}; }
  Ref<TGraphics> AttachGraphics(intptr_t, int) override { return nullptr; }
  Ref<TGraphics> CreateGraphics(int, int, int, int, int) override { return nullptr; }
  int SetGraphics(const Ref<TGraphics>&) override { return 0; }
  int Flip(int) override { return 0; }
  Ref<TImageFrame> CreateFrameFromPixmap(const Ref<TPixmap>& pixmap, int flags) override {
    frameFlags.push_back(flags);
    if (pixmap->width == refuseWidth && pixmap->height == refuseHeight) return nullptr;
    return MakeRef<RecordingFrame>(this, pixmap);
  }
  void SetBlend(int) override {}
  void SetAlpha(float) override {}
  void SetColor(int, int, int) override {}
  void SetClsColor(int, int, int) override {}
  void SetViewport(int, int, int, int) override {}
  void SetTransform(float, float, float, float) override {}
  void SetLineWidth(float) override {}
  void Cls() override {}
  void Plot(float, float) override {}
  void DrawLine(float, float, float, float, float, float) override {}
  void DrawRect(float, float, float, float, float, float) override {}
  void DrawOval(float, float, float, float, float, float) override {}
  void DrawPoly(const std::vector<float>&, float, float, float, float) override {}
  void DrawPixmap(const Ref<TPixmap>&, int, int) override {}
  Ref<TPixmap> GrabPixmap(int, int, int, int) override { return nullptr; }
  void SetResolution(float, float) override {}

  int refuseWidth = -1;
  int refuseHeight = -1;
  std::vector<int> frameFlags;
  std::vector<FrameDraw> draws;
};

inline void RecordingFrame::Draw(float x0, float y0, float x1, float y1, float tx, float ty, float sx,
                                 float sy, float sw, float sh) {
  driver_->draws.push_back({pixmap_.Get(), x0, y0, x1, y1, tx, ty, sx, sy, sw, sh});
}

// Makes a fresh recording driver the current 2D driver for the scope, and starts a new graphics
// generation so that frames built under an earlier driver are not reused.
class CurrentRecordingDriver {
 public:
  CurrentRecordingDriver() : driver(MakeRef<RecordingDriver>()) {
    BumpGraphicsSeq();
    SetCurrent2DDriver(driver);
  }
  ~CurrentRecordingDriver() { SetCurrent2DDriver(nullptr); }
  CurrentRecordingDriver(const CurrentRecordingDriver&) = delete;
  CurrentRecordingDriver& operator=(const CurrentRecordingDriver&) = delete;

  Ref<RecordingDriver> driver;
};

}  // namespace kiln::test
