// Pixmap layout, single-pixel access, clearing, windows, copies and pastes.
#include <gtest/gtest.h>

#include <cstring>

#include "runtime/core/exceptions.h"
#include "runtime/pixmap/pixmap.h"

namespace kiln {
namespace {

TEST(Pixmap, FormatTables) {
  const int bytes[] = {0, 1, 1, 3, 3, 4, 4, 1, 1, 1, 1, 1, 1};
  const int alpha[] = {0, 0, 8, 0, 0, 8, 8, 0, 0, 0, 8, 0, 0};
  for (int f = 0; f < PixelFormatCount; ++f) {
    EXPECT_EQ(pixelByteWidth[f], bytes[f]) << f;
    EXPECT_EQ(pixelAlphaBits[f], alpha[f]) << f;
  }
  EXPECT_EQ(BytesPerPixel(13), 0);
  EXPECT_EQ(BytesPerPixel(-1), 0);
}

TEST(Pixmap, CreatePitchAndCapacity) {
  struct Case {
    int width, height, format, align, pitch, capacity;
  } cases[] = {
      {5, 1, FormatRGB888, 4, 16, 16},  {3, 2, FormatGrey8, 4, 4, 8},     {4, 3, FormatGrey8, 4, 4, 12},
      {1, 1, FormatRGBA8888, 4, 4, 4},  {7, 2, FormatBGR888, 1, 21, 42},  {3, 3, FormatGrey8, 8, 8, 24},
      {0, 5, FormatRGB888, 4, 0, 0},    {10, 0, FormatBGRA8888, 4, 40, 0}, {2, 2, FormatBGR888, 16, 16, 32},
  };
  for (const Case& c : cases) {
    Ref<TPixmap> p = TPixmap::Create(c.width, c.height, c.format, c.align);
    EXPECT_EQ(p->pitch, c.pitch) << c.width << "x" << c.height << " f" << c.format;
    EXPECT_EQ(p->capacity, c.capacity) << c.width << "x" << c.height << " f" << c.format;
    EXPECT_EQ(p->width, c.width);
    EXPECT_EQ(p->height, c.height);
    EXPECT_EQ(p->format, c.format);
    EXPECT_FALSE(p->_source);
  }
}

TEST(Pixmap, CreateRejectsImpossibleShapes) {
  EXPECT_THROW(TPixmap::Create(-1, 1, FormatGrey8, 4), TArrayBoundsException);
  EXPECT_THROW(TPixmap::Create(1, -1, FormatGrey8, 4), TArrayBoundsException);
  EXPECT_THROW(TPixmap::Create(1, 1, 0, 4), TArrayBoundsException);
  EXPECT_THROW(TPixmap::Create(1, 1, 13, 4), TArrayBoundsException);
  EXPECT_THROW(TPixmap::Create(1, 1, FormatGrey8, 0), TArrayBoundsException);
  EXPECT_THROW(TPixmap::Create(40000, 40000, FormatRGBA8888, 4), TArrayBoundsException);
  // No rows, but a row length that the int pitch cannot hold.
  EXPECT_THROW(TPixmap::Create(1 << 30, 0, FormatRGBA8888, 4), TArrayBoundsException);
}

TEST(Pixmap, CreateStaticBorrowsMemory) {
  uint8_t block[32] = {};
  Ref<TPixmap> p = TPixmap::CreateStatic(block, 3, 2, 16, FormatRGBA8888);
  EXPECT_EQ(p->capacity, -1);
  EXPECT_EQ(p->pixels, block);
  EXPECT_EQ(p->PixelPtr(2, 1), block + 16 + 8);
  p->WritePixel(1, 1, static_cast<int>(0x80102030u));
  EXPECT_EQ(block[20], 0x10);
  EXPECT_EQ(block[23], 0x80);
  p.Reset();  // must not free the stack block
  EXPECT_EQ(block[21], 0x20);
}

// Byte images and read-back values of WritePixel(0xC0102030) for each format.
TEST(Pixmap, WriteAndReadPixelPerFormat) {
  const uint32_t argb = 0xC0102030u;
  struct Case {
    int format;
    std::vector<uint8_t> bytes;
    uint32_t readBack;
  } cases[] = {
      {FormatGrey8, {0x20}, 0xFF202020u},
      {FormatAlpha8, {0xC0}, 0xC0FFFFFFu},
      {FormatBGR888, {0x30, 0x20, 0x10}, 0xFF102030u},
      {FormatRGB888, {0x10, 0x20, 0x30}, 0xFF102030u},
      {FormatBGRA8888, {0x30, 0x20, 0x10, 0xC0}, 0xC0102030u},
      {FormatRGBA8888, {0x10, 0x20, 0x30, 0xC0}, 0xC0102030u},
  };
  for (const Case& c : cases) {
    Ref<TPixmap> p = AllocatePixmap(2, 2, c.format, 4);
    std::memset(p->pixels, 0xEE, static_cast<size_t>(p->capacity));
    p->WritePixel(1, 1, static_cast<int>(argb));
    EXPECT_EQ(0, std::memcmp(p->PixelPtr(1, 1), c.bytes.data(), c.bytes.size())) << "format " << c.format;
    EXPECT_EQ(static_cast<uint32_t>(p->ReadPixel(1, 1)), c.readBack) << "format " << c.format;
    EXPECT_EQ(p->PixelPtr(0, 1)[0], 0xEE) << "neighbour touched, format " << c.format;
  }
  for (int format = FormatRedOnly8; format <= FormatLuminance8; ++format) {
    Ref<TPixmap> p = AllocatePixmap(1, 1, format, 4);
    p->pixels[0] = 0x77;
    p->WritePixel(0, 0, static_cast<int>(argb));
    EXPECT_EQ(p->pixels[0], 0x77) << "format " << format;
    EXPECT_EQ(p->ReadPixel(0, 0), 0) << "format " << format;
  }
}

TEST(Pixmap, ReadPixelValues) {
  Ref<TPixmap> grey = AllocatePixmap(1, 1, FormatGrey8, 4);
  grey->WritePixel(0, 0, static_cast<int>(0xFF102030u));
  EXPECT_EQ(grey->pixels[0], 0x20);
  EXPECT_EQ(static_cast<uint32_t>(grey->ReadPixel(0, 0)), 0xFF202020u);
  Ref<TPixmap> alpha = AllocatePixmap(1, 1, FormatAlpha8, 4);
  alpha->pixels[0] = 0x80;
  EXPECT_EQ(static_cast<uint32_t>(alpha->ReadPixel(0, 0)), 0x80FFFFFFu);
}

TEST(Pixmap, PixelAccessOutsideThrows) {
  Ref<TPixmap> p = AllocatePixmap(3, 2, FormatRGB888, 4);
  const int points[][2] = {{-1, 0}, {0, -1}, {3, 0}, {0, 2}, {100, 100}};
  for (const auto& pt : points) {
    EXPECT_THROW(p->ReadPixel(pt[0], pt[1]), TArrayBoundsException);
    EXPECT_THROW(p->WritePixel(pt[0], pt[1], 0), TArrayBoundsException);
  }
  EXPECT_NO_THROW(p->WritePixel(2, 1, 0));
}

TEST(Pixmap, ClearPixels) {
  // Padded rows: the padding bytes stay as they were.
  Ref<TPixmap> p = AllocatePixmap(3, 2, FormatRGB888, 4);
  ASSERT_EQ(p->pitch, 12);
  std::memset(p->pixels, 0xEE, 24);
  p->ClearPixels(static_cast<int>(0xFF010203u));
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 3; ++x) EXPECT_EQ(static_cast<uint32_t>(p->ReadPixel(x, y)), 0xFF010203u);
    for (int i = 9; i < 12; ++i) EXPECT_EQ(p->PixelPtr(0, y)[i], 0xEE);
  }
  p->ClearPixels(0);
  EXPECT_EQ(p->PixelPtr(0, 1)[8], 0);
  EXPECT_EQ(p->PixelPtr(0, 1)[9], 0xEE);

  // Unpadded: one block clear.
  Ref<TPixmap> q = AllocatePixmap(4, 3, FormatRGBA8888, 4);
  std::memset(q->pixels, 0xEE, static_cast<size_t>(q->capacity));
  q->ClearPixels(0);
  for (int i = 0; i < q->capacity; ++i) ASSERT_EQ(q->pixels[i], 0);

  // Formats 7-12 ignore non-zero clears but are zeroed by 0.
  Ref<TPixmap> r = AllocatePixmap(4, 1, FormatIntensity8, 4);
  std::memset(r->pixels, 0x55, 4);
  r->ClearPixels(-1);
  EXPECT_EQ(r->pixels[3], 0x55);
  r->ClearPixels(0);
  EXPECT_EQ(r->pixels[3], 0);

  // A window's clear stays inside the window.
  Ref<TPixmap> parent = AllocatePixmap(4, 4, FormatGrey8, 4);
  parent->ClearPixels(0);
  parent->Window(1, 1, 2, 2)->ClearPixels(-1);
  EXPECT_EQ(parent->PixelPtr(0, 1)[0], 0);
  EXPECT_EQ(parent->PixelPtr(1, 1)[0], 255);
  EXPECT_EQ(parent->PixelPtr(3, 2)[0], 0);
  EXPECT_EQ(parent->PixelPtr(1, 3)[0], 0);
}

TEST(Pixmap, WindowSharesMemoryAndKeepsParentAlive) {
  Ref<TPixmap> parent = AllocatePixmap(5, 4, FormatRGBA8888, 4);
  parent->ClearPixels(0);
  Ref<TPixmap> w = parent->Window(1, 2, 3, 2);
  EXPECT_EQ(w->width, 3);
  EXPECT_EQ(w->height, 2);
  EXPECT_EQ(w->pitch, parent->pitch);
  EXPECT_EQ(w->capacity, -1);
  EXPECT_EQ(w->pixels, parent->PixelPtr(1, 2));
  w->WritePixel(0, 0, 0x11223344);
  EXPECT_EQ(parent->ReadPixel(1, 2), 0x11223344);
  parent->WritePixel(3, 3, 0x55667788);
  EXPECT_EQ(w->ReadPixel(2, 1), 0x55667788);

  TPixmap* raw = parent.Get();
  parent.Reset();
  ASSERT_EQ(w->_source.Get(), static_cast<TObject*>(raw));
  EXPECT_EQ(w->ReadPixel(0, 0), 0x11223344);
}

TEST(Pixmap, WindowOutsideThrows) {
  Ref<TPixmap> p = AllocatePixmap(4, 3, FormatGrey8, 4);
  const int rects[][4] = {{-1, 0, 1, 1}, {0, -1, 1, 1}, {3, 0, 2, 1}, {0, 2, 1, 2}, {0, 0, -1, 1}, {0, 0, 5, 1}};
  for (const auto& r : rects) EXPECT_THROW(p->Window(r[0], r[1], r[2], r[3]), TArrayBoundsException);
  EXPECT_EQ(p->Window(4, 3, 0, 0)->width, 0);
  EXPECT_EQ(p->Window(0, 0, 4, 3)->pixels, p->pixels);
}

TEST(Pixmap, CopyIsIndependentAndRepacked) {
  Ref<TPixmap> p = AllocatePixmap(3, 2, FormatBGR888, 1);
  ASSERT_EQ(p->pitch, 9);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) p->WritePixel(x, y, 0x010101 * (x + 3 * y + 1));
  Ref<TPixmap> c = p->Copy();
  EXPECT_EQ(c->pitch, 12);
  EXPECT_EQ(c->format, FormatBGR888);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) EXPECT_EQ(c->ReadPixel(x, y), p->ReadPixel(x, y));
  c->WritePixel(0, 0, 0);
  EXPECT_NE(p->ReadPixel(0, 0), c->ReadPixel(0, 0));
}

TEST(Pixmap, ConvertKeepsSizeAndConvertsEveryRow) {
  Ref<TPixmap> p = AllocatePixmap(3, 3, FormatRGBA8888, 4);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 3; ++x) p->WritePixel(x, y, static_cast<int>(0xFF000000u | (x * 40) << 16 | (y * 40)));
  Ref<TPixmap> q = p->Convert(FormatBGR888);
  EXPECT_EQ(q->format, FormatBGR888);
  EXPECT_EQ(q->pitch, 12);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 3; ++x) EXPECT_EQ(q->ReadPixel(x, y), p->ReadPixel(x, y)) << x << "," << y;
}

TEST(Pixmap, PasteConvertsAndClips) {
  Ref<TPixmap> dst = AllocatePixmap(4, 4, FormatBGRA8888, 4);
  dst->ClearPixels(0);
  Ref<TPixmap> src = AllocatePixmap(2, 2, FormatGrey8, 4);
  src->PixelPtr(0, 0)[0] = 10;
  src->PixelPtr(1, 0)[0] = 20;
  src->PixelPtr(0, 1)[0] = 30;
  src->PixelPtr(1, 1)[0] = 40;

  EXPECT_EQ(dst->Paste(src, 1, 1), 0);
  EXPECT_EQ(static_cast<uint32_t>(dst->ReadPixel(1, 1)), 0xFF0A0A0Au);
  EXPECT_EQ(static_cast<uint32_t>(dst->ReadPixel(2, 2)), 0xFF282828u);
  EXPECT_EQ(dst->ReadPixel(3, 3), 0);

  // Hanging over the top-left and bottom-right corners: only the overlap is written.
  dst->ClearPixels(0);
  dst->Paste(src, -1, -1);
  EXPECT_EQ(static_cast<uint32_t>(dst->ReadPixel(0, 0)), 0xFF282828u);
  EXPECT_EQ(dst->ReadPixel(1, 0), 0);
  EXPECT_EQ(dst->ReadPixel(0, 1), 0);
  dst->Paste(src, 3, 3);
  EXPECT_EQ(static_cast<uint32_t>(dst->ReadPixel(3, 3)), 0xFF0A0A0Au);
  dst->Paste(src, 10, -10);
  dst->Paste(src, -2, 0);
  EXPECT_EQ(dst->ReadPixel(2, 0), 0);
  EXPECT_THROW(dst->Paste(nullptr, 0, 0), TNullObjectException);
}

TEST(Pixmap, PasteFromOverlappingMemoryMovesTheOriginalPixels) {
  // Each pixel holds its own row number; pasting a window of the pixmap one row down must shift
  // the original rows, not repeat the first one.
  Ref<TPixmap> p = AllocatePixmap(3, 4, FormatGrey8, 4);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 3; ++x) p->PixelPtr(x, y)[0] = static_cast<uint8_t>(y);
  p->Paste(p->Window(0, 0, 3, 3), 0, 1);
  for (int y = 1; y < 4; ++y) EXPECT_EQ(p->PixelPtr(1, y)[0], y - 1) << y;
  Ref<TPixmap> q = AllocatePixmap(2, 2, FormatRGBA8888, 4);
  q->ClearPixels(0x11223344);
  q->Paste(q, 0, 0);
  EXPECT_EQ(q->ReadPixel(1, 1), 0x11223344);
}

TEST(Pixmap, FreeFunctionsForwardAndCheckForNull) {
  Ref<TPixmap> p = AllocatePixmap(2, 3, FormatRGB888, 4);
  EXPECT_EQ(PixmapWidth(p), 2);
  EXPECT_EQ(PixmapHeight(p), 3);
  EXPECT_EQ(PixmapPitch(p), 8);
  EXPECT_EQ(PixmapFormat(p), FormatRGB888);
  ClearPixels(p, 0x00123456);
  EXPECT_EQ(static_cast<uint32_t>(ReadPixel(p, 1, 2)), 0xFF123456u);
  WritePixel(p, 1, 2, 0x00ABCDEF);
  EXPECT_EQ(PixelPtr(p, 1, 2)[0], 0xAB);
  EXPECT_EQ(ReadPixel(Window(p, 1, 1, 1, 2), 0, 1), ReadPixel(p, 1, 2));
  EXPECT_EQ(ReadPixel(Copy(p), 1, 2), ReadPixel(p, 1, 2));
  EXPECT_EQ(PixmapFormat(Convert(p, FormatGrey8)), FormatGrey8);
  Ref<TPixmap> none;
  EXPECT_THROW(PixmapWidth(none), TNullObjectException);
  EXPECT_THROW(Copy(none), TNullObjectException);
  EXPECT_THROW(Paste(p, none, 0, 0), TNullObjectException);
}

}  // namespace
}  // namespace kiln
