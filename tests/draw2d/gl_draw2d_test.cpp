// The 2D layer drawing through the GL 2D driver into a real window (Xvfb, Mesa's software GL),
// read back from the back buffer.
#include <gtest/gtest.h>

#include <GL/gl.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "runtime/draw2d/draw2d.h"
#include "runtime/draw2d/gl_flat2d_driver.h"
#include "runtime/graphics/graphics.h"
#include "runtime/pixmap/pixmap_loaders.h"
#include "tests/support/test_display.h"

namespace kiln {
namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 240;
constexpr int kClear = static_cast<int>(0xFF0A141Eu);  // clear colour (10, 20, 30)

int Rgb(int argb) { return argb & 0xFFFFFF; }

// A pixmap whose pixel (x, y) has a colour no other pixel has.
Ref<TPixmap> Pattern(int w, int h, int format = FormatRGBA8888) {
  Ref<TPixmap> p = AllocatePixmap(w, h, format, 4);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) p->WritePixel(x, y, static_cast<int>(0xFF000000u | ((40 + x * 7) & 255) << 16 | ((60 + y * 5) & 255) << 8 | 200));
  }
  return p;
}

int Grab(int x, int y) { return GrabScreenPixmap(x, y, 1, 1)->ReadPixel(0, 0); }

::testing::AssertionResult Near(int argb, int r, int g, int b, int tolerance = 2) {
  int dr = ((argb >> 16) & 255) - r, dg = ((argb >> 8) & 255) - g, db = (argb & 255) - b;
  if (std::abs(dr) <= tolerance && std::abs(dg) <= tolerance && std::abs(db) <= tolerance) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << std::hex << "pixel 0x" << Rgb(argb) << std::dec << " is not ("
                                       << r << ", " << g << ", " << b << ")";
}

class GLDraw2D : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(test::EnsureDisplay());
    InitPixmapLoaders();
    InitFreeTypeFontModule();
    InitGLDraw2DModule();
  }
  void SetUp() override {
    ASSERT_TRUE(InstalledGraphicsDriver() == TheGLFlat2DDriver());
    ASSERT_TRUE(OpenGraphicsWindow(kWidth, kHeight, 0, 0, 0));
    SetClearColor(10, 20, 30);
    ClearScreen();
  }
  void TearDown() override { CloseGraphicsWindow(); }
};

TEST(Draw2DWithoutContext, CallsDoNothingAndGettersGiveDefaults) {
  ASSERT_TRUE(test::EnsureDisplay());
  InitGLDraw2DModule();
  CloseGraphicsWindow();
  Ref<TImage> image = TImage::Load(Url(Pattern(2, 2)), 0, 0, 0, 0);
  SetDrawColor(1, 2, 3);
  SetDrawAlpha(0.25f);
  SetBlendMode(BlendLight);
  SetDrawRotation(45);
  SetClipRect(1, 2, 3, 4);
  DrawImageAt(image, 0, 0);
  DrawTextLine("text", 0, 0);
  DrawFilledRect(0, 0, 5, 5);
  TileImageFill(image);
  int r, g, b, x, y, w, h;
  GetDrawColor(r, g, b);
  EXPECT_EQ(r + g + b, 3 * 255);
  EXPECT_EQ(GetDrawAlpha(), 1.0f);
  EXPECT_EQ(GetBlendMode(), BlendMask);
  EXPECT_EQ(GetDrawRotation(), 0);
  GetClipRect(x, y, w, h);
  EXPECT_EQ(x + y + w + h, 0);
  EXPECT_FALSE(GrabScreenPixmap(0, 0, 1, 1));
  EXPECT_FALSE(image->frames[0]);
  EXPECT_EQ(MeasureTextWidth("Fertig"), 48);  // the built-in font's 8 pixels per glyph
  EXPECT_EQ(MeasureTextHeight(), 16);
}

TEST_F(GLDraw2D, ContextStartsInTheDefaultState) {
  int r, g, b, x, y, w, h;
  GetDrawColor(r, g, b);
  EXPECT_EQ(r + g + b, 3 * 255);
  EXPECT_EQ(GetDrawAlpha(), 1.0f);
  EXPECT_EQ(GetBlendMode(), BlendMask);
  GetClipRect(x, y, w, h);
  EXPECT_EQ(w, kWidth);
  EXPECT_EQ(h, kHeight);
  EXPECT_EQ(LogicalWidth(), kWidth);
  EXPECT_FALSE(glIsEnabled(GL_SCISSOR_TEST));
  EXPECT_TRUE(glIsEnabled(GL_ALPHA_TEST));
  EXPECT_FALSE(glIsEnabled(GL_BLEND));
  EXPECT_TRUE(CurrentImageFont());
  EXPECT_EQ(Rgb(Grab(0, 0)), Rgb(kClear));
}

// Every pixel of the image lands on its own screen pixel, with the image's handle and the origin.
TEST_F(GLDraw2D, ImagesArrivePixelExactWithHandleAndOrigin) {
  Ref<TPixmap> pattern = Pattern(5, 3);
  for (int flags : {0, FilteredImageFlag}) {
    SCOPED_TRACE(flags);
    ClearScreen();
    Ref<TImage> image = TImage::Load(Url(pattern), flags, 0, 0, 0);
    DrawImageAt(image, 0, 0);
    PlaceImageHandle(image, 10, 20);
    SetDrawOrigin(5, 6);
    DrawImageAt(image, 100, 100);
    SetDrawOrigin(0, 0);
    Ref<TPixmap> atZero = GrabScreenPixmap(0, 0, 6, 4);
    Ref<TPixmap> moved = GrabScreenPixmap(94, 85, 7, 5);  // the image covers (95, 86)-(100, 89)
    for (int y = 0; y < 4; ++y) {
      for (int x = 0; x < 6; ++x) {
        int expected = x < 5 && y < 3 ? pattern->ReadPixel(x, y) : kClear;
        EXPECT_EQ(Rgb(atZero->ReadPixel(x, y)), Rgb(expected)) << x << "," << y;
      }
    }
    for (int y = 0; y < 5; ++y) {
      for (int x = 0; x < 7; ++x) {
        bool inside = x >= 1 && x <= 5 && y >= 1 && y <= 3;
        int expected = inside ? pattern->ReadPixel(x - 1, y - 1) : kClear;
        EXPECT_EQ(Rgb(moved->ReadPixel(x, y)), Rgb(expected)) << x << "," << y;
      }
    }
  }
}

TEST_F(GLDraw2D, MaskedBlackPixelsLeaveTheBackBufferAsItWas) {
  Ref<TPixmap> rgb = Pattern(4, 4, FormatRGB888);
  rgb->WritePixel(1, 1, 0xFF000000);
  rgb->WritePixel(3, 0, 0xFF000000);
  Ref<TImage> image = OpenImage(Url(rgb), -1);
  ASSERT_EQ(image->flags, MaskedImageFlag | FilteredImageFlag);
  DrawImageAt(image, 0, 0);
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 4; ++x) {
      bool black = (x == 1 && y == 1) || (x == 3 && y == 0);
      EXPECT_EQ(Rgb(Grab(x, y)), Rgb(black ? kClear : rgb->ReadPixel(x, y))) << x << "," << y;
    }
  }
}

TEST_F(GLDraw2D, BlendModesCombineKnownColours) {
  struct Case {
    int mode;
    int r, g, b;
  } cases[] = {
      {BlendMask, 200, 100, 50},   // alpha 0.6 passes the alpha test, drawn solid
      {BlendSolid, 200, 100, 50},
      {BlendAlpha, 160, 120, 110},  // 0.6 source + 0.4 destination
      {BlendLight, 220, 210, 230},  // 0.6 source + destination
      {BlendShade, 78, 59, 39},     // destination x source colour
      {99, 200, 100, 50},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    SetClearColor(100, 150, 200);
    ClearScreen();
    SetBlendMode(c.mode);
    SetDrawColor(200, 100, 50);
    SetDrawAlpha(0.6f);
    DrawFilledRect(10, 10, 4, 4);
    EXPECT_TRUE(Near(Grab(11, 11), c.r, c.g, c.b));
  }
  // Below one half the mask mode draws nothing.
  ClearScreen();
  SetBlendMode(BlendMask);
  SetDrawAlpha(0.5f);
  DrawFilledRect(10, 10, 4, 4);
  EXPECT_TRUE(Near(Grab(11, 11), 100, 150, 200, 0));
}

TEST_F(GLDraw2D, ColourAndAlphaBecomeClampedBytes) {
  auto currentBytes = [] {
    float c[4];
    glGetFloatv(GL_CURRENT_COLOR, c);
    return std::array<int, 4>{static_cast<int>(std::lround(c[0] * 255)), static_cast<int>(std::lround(c[1] * 255)),
                              static_cast<int>(std::lround(c[2] * 255)), static_cast<int>(std::lround(c[3] * 255))};
  };
  SetDrawColor(300, -5, 128);
  EXPECT_EQ(currentBytes(), (std::array<int, 4>{255, 0, 128, 255}));
  struct {
    float alpha;
    int byte;
  } alphas[] = {{0.5f, 127}, {1.5f, 255}, {-1.0f, 0}, {NAN, 0}, {1.0f, 255}, {0.0f, 0}};
  for (const auto& a : alphas) {
    SetDrawAlpha(a.alpha);
    EXPECT_EQ(currentBytes()[3], a.byte) << a.alpha;
  }
  SetClearColor(-3, 999, 51);
  ClearScreen();
  EXPECT_TRUE(Near(Grab(0, 0), 0, 255, 51, 1));
}

TEST_F(GLDraw2D, ClipRectLimitsDrawingAndTheWholeContextTurnsScissoringOff) {
  SetDrawColor(255, 0, 0);
  SetClipRect(10, 10, 20, 20);
  EXPECT_TRUE(glIsEnabled(GL_SCISSOR_TEST));
  DrawFilledRect(0, 0, kWidth, kHeight);
  EXPECT_EQ(Rgb(Grab(9, 9)), Rgb(kClear));
  EXPECT_EQ(Rgb(Grab(10, 10)), 0xFF0000);
  EXPECT_EQ(Rgb(Grab(29, 29)), 0xFF0000);
  EXPECT_EQ(Rgb(Grab(30, 30)), Rgb(kClear));
  SetClipRect(0, 0, kWidth, kHeight);
  EXPECT_FALSE(glIsEnabled(GL_SCISSOR_TEST));

  // Half the logical resolution: a logical clip rectangle covers twice the context pixels.
  SetLogicalResolution(kWidth / 2.0f, kHeight / 2.0f);
  ClearScreen();
  SetClipRect(5, 5, 10, 10);
  DrawFilledRect(0, 0, kWidth, kHeight);
  EXPECT_EQ(Rgb(Grab(9, 9)), Rgb(kClear));
  EXPECT_EQ(Rgb(Grab(10, 10)), 0xFF0000);
  EXPECT_EQ(Rgb(Grab(29, 29)), 0xFF0000);
  EXPECT_EQ(Rgb(Grab(30, 30)), Rgb(kClear));
}

TEST_F(GLDraw2D, TexturesArePowersOfTwoWithTheLastColumnAndRowSmeared) {
  struct Case {
    int w, h, tw, th;
  } cases[] = {{640, 480, 1024, 512}, {300, 200, 512, 256}, {1, 1, 1, 1}, {256, 3, 256, 4}, {5, 3, 8, 4}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.w << "x" << c.h);
    Ref<TPixmap> pattern = Pattern(c.w, c.h);
    Ref<TImage> image = TImage::Load(Url(pattern), FilteredImageFlag, 0, 0, 0);
    Ref<TGLImageFrame> frame = RefCast<TGLImageFrame>(image->Frame(0));
    ASSERT_TRUE(frame);
    EXPECT_FLOAT_EQ(frame->uscale, 1.0f / c.tw);
    EXPECT_FLOAT_EQ(frame->vscale, 1.0f / c.th);
    EXPECT_FLOAT_EQ(frame->u1, static_cast<float>(c.w) / c.tw);
    EXPECT_FLOAT_EQ(frame->v1, static_cast<float>(c.h) / c.th);
    EXPECT_EQ(frame->seq, GraphicsSeq());

    std::vector<uint32_t> texels(static_cast<size_t>(c.tw) * c.th);
    glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(frame->name));
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels.data());
    glBindTexture(GL_TEXTURE_2D, 0);
    auto texel = [&](int x, int y) { return texels[static_cast<size_t>(y) * c.tw + x]; };
    auto source = [&](int x, int y) {
      int argb = pattern->ReadPixel(x, y);
      return static_cast<uint32_t>((argb >> 16) & 255) | (argb & 0xFF00) | (static_cast<uint32_t>(argb & 255) << 16) | 0xFF000000u;
    };
    EXPECT_EQ(texel(c.w - 1, c.h - 1), source(c.w - 1, c.h - 1));
    // The whole padding repeats the edge, so no level of a mipmap averages undefined texels in.
    for (int y = 0; y < c.th; ++y) {
      for (int x = 0; x < c.tw; ++x) {
        if (x < c.w && y < c.h) continue;
        ASSERT_EQ(texel(x, y), source(std::min(x, c.w - 1), std::min(y, c.h - 1))) << x << "," << y;
      }
    }
  }
}

TEST_F(GLDraw2D, FramesAreRebuiltForANewWindowAndReleasedTexturesDeletedLater) {
  Ref<TImage> image = TImage::Load(Url(Pattern(3, 3)), 0, 0, 0, 0);
  Ref<TImageFrame> first = image->Frame(0);
  ASSERT_TRUE(first);
  EXPECT_TRUE(image->Frame(0) == first);

  ASSERT_TRUE(OpenGraphicsWindow(kWidth, kHeight, 0, 0, 0));
  ClearScreen();
  Ref<TImageFrame> second = image->Frame(0);
  ASSERT_TRUE(second);
  EXPECT_FALSE(second == first);
  EXPECT_EQ(image->seqs[0], GraphicsSeq());
  DrawImageAt(image, 0, 0);
  EXPECT_EQ(Rgb(Grab(2, 2)), Rgb(image->pixmaps[0]->ReadPixel(2, 2)));

  // A released frame's texture is deleted at the next texture creation, not at once.
  GLuint name = static_cast<GLuint>(RefCast<TGLImageFrame>(second)->name);
  second = nullptr;
  image = nullptr;
  EXPECT_TRUE(glIsTexture(name));
  Ref<TImage> other = TImage::Load(Url(Pattern(2, 2)), 0, 0, 0, 0);
  ASSERT_TRUE(other->Frame(0));
  EXPECT_FALSE(glIsTexture(name));
}

TEST_F(GLDraw2D, BlankImagesStartTransparentBlackAndNeedAPositiveSize) {
  // Memory of the size a 16 x 16 frame takes, dirtied and given back: what the heap hands out next.
  for (int i = 0; i < 4; ++i) {
    std::unique_ptr<uint8_t[]> dirt(new uint8_t[16 * 16 * 4]);
    std::memset(dirt.get(), 0xEF, 16 * 16 * 4);
    asm volatile("" : : "r"(dirt.get()) : "memory");
  }
  Ref<TImage> blank = NewBlankImage(16, 16, 1, 0);
  ASSERT_TRUE(blank);
  SetBlendMode(BlendSolid);
  DrawImageAt(blank, 0, 0);
  Ref<TPixmap> drawn = GrabScreenPixmap(0, 0, 16, 16);
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 16; ++x) ASSERT_EQ(Rgb(drawn->ReadPixel(x, y)), 0) << x << "," << y;
  }
  EXPECT_EQ(LockImagePixels(blank, 0, 1, 0)->ReadPixel(15, 15), 0);

  struct Size {
    int w, h;
  } refused[] = {{-1, 5}, {5, -1}, {0, 5}, {5, 0}, {-3, -3}, {40000, 40000}};
  for (Size size : refused) EXPECT_FALSE(NewBlankImage(size.w, size.h)) << size.w << "x" << size.h;
}

// A closed context has no driver: selecting it again must not take the installed driver away.
TEST_F(GLDraw2D, ClosedContextSelectedAgainSelectsNothing) {
  Ref<TGraphics> closed = WindowGraphics();
  CloseGraphicsWindow();
  SelectGraphicsContext(closed);
  EXPECT_FALSE(CurrentGraphicsContext());
  EXPECT_TRUE(InstalledGraphicsDriver() == TheGLFlat2DDriver());
  ASSERT_TRUE(OpenGraphicsWindow(kWidth, kHeight, 0, 0, 0));
  SetDrawColor(0, 0, 255);
  DrawFilledRect(0, 0, 4, 4);
  EXPECT_EQ(Rgb(Grab(1, 1)), 0x0000FF);
}

// Images drawn in both of two live contexts, and released in the other one, keep their pixels.
TEST_F(GLDraw2D, TwoContextsDrawEachOthersImagesAndReleaseTheirOwnTextures) {
  Ref<TGraphics> a = WindowGraphics();
  Ref<TPixmap> pixelsA = Pattern(4, 3), pixelsB = Pattern(6, 3);
  Ref<TImage> fromA = TImage::Load(Url(pixelsA), 0, 0, 0, 0);
  Ref<TImage> releasedInB = TImage::Load(Url(Pattern(2, 2)), 0, 0, 0, 0);
  DrawImageAt(fromA, 0, 0);
  DrawImageAt(releasedInB, 0, 0);
  Ref<TGraphics> b = OpenGraphicsContext(kWidth, kHeight, 0, 0, 0);
  ASSERT_TRUE(b);
  SelectGraphicsContext(b);
  SetClearColor(10, 20, 30);
  std::vector<Ref<TImage>> fromB;
  for (int i = 0; i < 3; ++i) {
    fromB.push_back(TImage::Load(Url(pixelsB), 0, 0, 0, 0));
    DrawImageAt(fromB.back(), 0, 0);
  }
  releasedInB = nullptr;
  DrawImageAt(TImage::Load(Url(Pattern(3, 3)), 0, 0, 0, 0), 0, 0);  // a texture creation deletes released ones

  for (const Ref<TGraphics>& g : {b, a, b}) {
    SelectGraphicsContext(g);
    ClearScreen();
    DrawImageAt(fromA, 0, 0);
    for (int i = 0; i < 3; ++i) DrawImageAt(fromB[static_cast<size_t>(i)], 10.0f * static_cast<float>(i + 1), 0);
    for (int x = 0; x < 4; ++x) EXPECT_EQ(Rgb(Grab(x, 2)), Rgb(pixelsA->ReadPixel(x, 2))) << (g == a ? "A" : "B");
    for (int i = 1; i <= 3; ++i) {
      for (int x = 0; x < 6; ++x) {
        EXPECT_EQ(Rgb(Grab(10 * i + x, 2)), Rgb(pixelsB->ReadPixel(x, 2))) << (g == a ? "A" : "B") << " image " << i;
      }
    }
  }
  CloseGraphicsContext(b);
}

// Drawing covers what the clip rectangle covers in context pixels, whatever order the logical
// resolution and the clip were set in, and the same after the context is selected again.
TEST_F(GLDraw2D, ClipRectAtLogicalResolutionsCoversWholePixels) {
  CloseGraphicsWindow();
  ASSERT_TRUE(OpenGraphicsWindow(640, 480, 0, 0, 0));
  struct Case {
    float w, h;
    int clip[4];
    int pixels;
  } cases[] = {
      {1024, 768, {0, 0, 1024, 768}, 640 * 480},
      {512, 384, {0, 0, 512, 384}, 640 * 480},
      {1280, 960, {0, 0, 640, 480}, 320 * 240},
      {1024, 768, {0, 0, 512, 384}, 320 * 240},
      {640, 480, {0, 0, 640, 480}, 640 * 480},
  };
  auto drawn = [](const Case& c, bool selectAgain) {
    SetLogicalResolution(640, 480);
    SetClipRect(0, 0, 640, 480);
    ClearScreen();
    SetClipRect(c.clip[0], c.clip[1], c.clip[2], c.clip[3]);
    SetLogicalResolution(c.w, c.h);
    if (selectAgain) SelectGraphicsContext(WindowGraphics());
    SetDrawColor(255, 0, 0);
    DrawFilledRect(0, 0, c.w, c.h);
    Ref<TPixmap> screen = GrabScreenPixmap(0, 0, 640, 480);
    int count = 0;
    for (int y = 0; y < 480; ++y) {
      for (int x = 0; x < 640; ++x) count += Rgb(screen->ReadPixel(x, y)) == 0xFF0000;
    }
    return count;
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.w << "x" << c.h << " clip " << c.clip[2] << "x" << c.clip[3]);
    EXPECT_EQ(drawn(c, false), c.pixels);
    EXPECT_EQ(drawn(c, true), c.pixels);
  }
}

TEST_F(GLDraw2D, TransformsMoveScaleAndTurnImages) {
  Ref<TPixmap> pattern = Pattern(4, 2);
  Ref<TImage> image = TImage::Load(Url(pattern), 0, 0, 0, 0);
  // Scale 2: each source pixel covers 2 x 2 screen pixels.
  SetDrawScale(2, 2);
  DrawImageAt(image, 20, 20);
  EXPECT_EQ(Rgb(Grab(27, 23)), Rgb(pattern->ReadPixel(3, 1)));
  EXPECT_EQ(Rgb(Grab(28, 23)), Rgb(kClear));
  // A quarter turn: the local point (x, y) lands at (-y, x) from the drawing position.
  SetDrawTransform(90, 1, 1);
  DrawImageAt(image, 100, 100);
  EXPECT_EQ(Rgb(Grab(99, 100)), Rgb(pattern->ReadPixel(0, 0)));
  EXPECT_EQ(Rgb(Grab(98, 103)), Rgb(pattern->ReadPixel(3, 1)));
  SetDrawTransform(0, 1, 1);
  // Primitives: a filled rectangle covers exactly its pixels, a line with its last pixel too.
  SetDrawColor(0, 255, 0);
  DrawFilledRect(200, 50, 5, 3);
  DrawLineSegment(200, 60, 209, 60);
  EXPECT_EQ(Rgb(Grab(200, 50)), 0x00FF00);
  EXPECT_EQ(Rgb(Grab(204, 52)), 0x00FF00);
  EXPECT_EQ(Rgb(Grab(205, 52)), Rgb(kClear));
  EXPECT_EQ(Rgb(Grab(204, 53)), Rgb(kClear));
  EXPECT_EQ(Rgb(Grab(200, 60)), 0x00FF00);
  EXPECT_EQ(Rgb(Grab(209, 60)), 0x00FF00);
  EXPECT_EQ(Rgb(Grab(210, 60)), Rgb(kClear));
  EXPECT_EQ(OvalSegments(2, 3), 12);
  EXPECT_EQ(OvalSegments(20, 30), 48);
  EXPECT_EQ(OvalSegments(1e30f, 5), 1 << 16);
  EXPECT_EQ(OvalSegments(NAN, 5), 12);
}

TEST_F(GLDraw2D, TileImageFillCoversTheClipRect) {
  Ref<TPixmap> pattern = Pattern(3, 2);
  Ref<TImage> image = TImage::Load(Url(pattern), 0, 0, 0, 0);
  SetClipRect(7, 5, 20, 9);
  SetDrawOrigin(1, 0);
  // One copy's corner at (2, 2): whole tiles left of and above the clip rectangle.
  TileImageFill(image, 1, 2);
  Ref<TPixmap> screen = GrabScreenPixmap(0, 0, 40, 20);
  for (int y = 0; y < 20; ++y) {
    for (int x = 0; x < 40; ++x) {
      bool inside = x >= 7 && x < 27 && y >= 5 && y < 14;
      int expected = inside ? pattern->ReadPixel((x - 2) % 3, (y - 2) % 2) : kClear;
      ASSERT_EQ(Rgb(screen->ReadPixel(x, y)), Rgb(expected)) << x << "," << y;
    }
  }
}

// However the copies are batched, the pixels are those of one image drawn at each copy's place.
TEST_F(GLDraw2D, TileImageFillDrawsWhatCopiesDrawnOneByOneDraw) {
  struct Case {
    int w, h, flags;
    float x, y, resolution;
  } cases[] = {
      // Offsets of half a pixel would put pixel centres on texel edges, where copies drawn one by one
      // already differ among themselves.
      {1, 1, 0, 3, 2, 1},
      {1, 1, FilteredImageFlag, 0, 0, 1},
      {4, 4, FilteredImageFlag | MipmappedImageFlag, 0.5f, 0.25f, 1},
      {4, 4, 0, 0.5f, 0.25f, 0.5f},
      {4, 4, 0, 0.25f, 0.75f, 1},
      {3, 2, 0, 0.25f, 0.625f, 1},
      {3, 2, 0, 0.75f, 0.125f, 1},
      {3, 2, FilteredImageFlag, 2, 1, 1},
      {5, 3, FilteredImageFlag, 0.5f, 0.5f, 1},
      {5, 3, MipmappedImageFlag, 1, 1, 0.5f},
  };
  const int clip[4] = {7, 5, 150, 100};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.w << "x" << c.h << " flags " << c.flags << " at " << c.x << "," << c.y
                                      << " resolution x " << c.resolution);
    Ref<TImage> image = TImage::Load(Url(Pattern(c.w, c.h)), c.flags, 0, 0, 0);
    SetLogicalResolution(kWidth * c.resolution, kHeight * c.resolution);
    auto screen = [&](bool oneByOne) {
      SetClipRect(0, 0, kWidth, kHeight);
      ClearScreen();
      SetClipRect(clip[0], clip[1], clip[2], clip[3]);
      if (oneByOne) {
        for (float y = c.y - static_cast<float>(c.h) * 2; y < clip[1] + clip[3]; y += static_cast<float>(c.h)) {
          for (float x = c.x - static_cast<float>(c.w) * 3; x < clip[0] + clip[2]; x += static_cast<float>(c.w)) {
            DrawImageAt(image, x, y);
          }
        }
      } else {
        TileImageFill(image, c.x, c.y);
      }
      return GrabScreenPixmap(0, 0, kWidth, kHeight);
    };
    Ref<TPixmap> tiled = screen(false), copies = screen(true);
    int differing = 0;
    for (int y = 0; y < kHeight; ++y) {
      for (int x = 0; x < kWidth; ++x) differing += tiled->ReadPixel(x, y) != copies->ReadPixel(x, y);
    }
    EXPECT_EQ(differing, 0);
    EXPECT_NE(tiled->ReadPixel(static_cast<int>((clip[0] + 1) / c.resolution),
                               static_cast<int>((clip[1] + 1) / c.resolution)),
              kClear);
  }
  SetLogicalResolution(kWidth, kHeight);
}

TEST_F(GLDraw2D, PixmapsAndGrabsRoundTrip) {
  Ref<TPixmap> pattern = Pattern(6, 4);
  DrawPixmapAt(pattern, 30, 40);
  Ref<TPixmap> back = GrabScreenPixmap(30, 40, 6, 4);
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 6; ++x) EXPECT_EQ(Rgb(back->ReadPixel(x, y)), Rgb(pattern->ReadPixel(x, y)));
  }
  EXPECT_EQ(GetBlendMode(), BlendMask);
  EXPECT_TRUE(glIsEnabled(GL_ALPHA_TEST));

  Ref<TImage> grabbed = NewBlankImage(6, 4, 1, 0);
  EXPECT_EQ(grabbed->flags, DynamicImageFlag);
  GrabScreenIntoImage(grabbed, 30, 40);
  DrawImageAt(grabbed, 100, 100);
  EXPECT_EQ(Rgb(Grab(105, 103)), Rgb(pattern->ReadPixel(5, 3)));
}

// A font whose every glyph advances 7.6 pixels.
class FractionalFont : public TFont {
 public:
  int Style() override { return 0; }
  int Height() override { return 10; }
  int CountGlyphs() override { return 1; }
  int CharToGlyph(int c) override { return c == 'a' ? 0 : -1; }
  Ref<TGlyph> LoadGlyph(int) override { return MakeRef<Glyph>(); }
  class Glyph : public TGlyph {
   public:
    Ref<TObject> Pixels() override { return nullptr; }
    float Advance() override { return 7.6f; }
    int GetRect(int& x, int& y, int& w, int& h) override {
      x = y = w = h = 0;
      return 0;
    }
  };
};

TEST_F(GLDraw2D, TextIsMeasuredWithTruncationAfterEveryGlyph) {
  Ref<TImageFont> font = MakeRef<TImageFont>();
  font->_src_font = MakeRef<FractionalFont>();
  font->_glyphs.resize(1);
  UseImageFont(font);
  EXPECT_EQ(MeasureTextWidth("a"), 7);
  EXPECT_EQ(MeasureTextWidth("aa"), 14);
  EXPECT_EQ(MeasureTextWidth("a-a"), 14);  // no glyph, no advance
  EXPECT_EQ(MeasureTextHeight(), 10);
  UseImageFont(nullptr);
  EXPECT_EQ(MeasureTextWidth("aa"), 16);
}

// The status screen's picture and text, saved where a person can look at it.
TEST_F(GLDraw2D, PayloadPictureAndFontDrawTheStatusScreen) {
  CloseGraphicsWindow();
  ASSERT_TRUE(OpenGraphicsWindow(640, 480, 0, 0, 0));
  Ref<TImage> background = OpenImage(KILN_PAYLOAD_DIR "/hg_grafik.jpg", -1);
  ASSERT_TRUE(background);
  Ref<TImageFont> font = OpenImageFont(KILN_PAYLOAD_DIR "/arial.ttf", 14, 5);
  ASSERT_TRUE(font);
  UseImageFont(font);
  const Text done(u"Fertig! Dr\u00FCcke eine Taste zum Beenden.");
  ASSERT_GE(font->CharToGlyph(0xFC), 0);

  // "ü" differs from "u" above the x-height: its dots are drawn.
  auto litPixels = [](const Text& text) {
    ClearScreen();
    DrawTextLine(text, 100, 100);
    Ref<TPixmap> area = GrabScreenPixmap(98, 98, 20, 20);
    int lit = 0;
    for (int y = 0; y < 20; ++y) {
      for (int x = 0; x < 20; ++x) lit += ((area->ReadPixel(x, y) >> 8) & 255) > 128;
    }
    return lit;
  };
  int u = litPixels("u"), umlaut = litPixels(Text(u"\u00FC"));
  EXPECT_GT(u, 10);
  EXPECT_GT(umlaut, u);

  DrawImageAt(background, 0, 0);
  DrawTextLine("v 1.3", 590, 5);
  DrawTextLine(done, 10, 460);
  EXPECT_LT(10 + MeasureTextWidth(done), 640);
  Ref<TPixmap> screen = GrabScreenPixmap(0, 0, 640, 480);
  ASSERT_TRUE(screen);
  EXPECT_EQ(SavePixmapAsPng(screen, "draw2d_status_screen.png", 6), 1);
  PresentFrame(0);
}

}  // namespace
}  // namespace kiln
