// Colour-key masking, mirroring and bilinear scaling.
#include <gtest/gtest.h>

#include <vector>

#include "runtime/core/exceptions.h"
#include "runtime/pixmap/pixmap.h"

namespace kiln {
namespace {

struct Rgba {
  int r, g, b, a;
  bool operator==(const Rgba&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Rgba& c) {
  return os << "(" << c.r << "," << c.g << "," << c.b << "," << c.a << ")";
}

Rgba At(const Ref<TPixmap>& p, int x, int y) {
  const uint8_t* q = p->PixelPtr(x, y);
  return {q[0], q[1], q[2], q[3]};
}

void Put(const Ref<TPixmap>& p, int x, int y, Rgba c) {
  uint8_t* q = p->PixelPtr(x, y);
  q[0] = static_cast<uint8_t>(c.r);
  q[1] = static_cast<uint8_t>(c.g);
  q[2] = static_cast<uint8_t>(c.b);
  q[3] = static_cast<uint8_t>(c.a);
}

Ref<TPixmap> Filled(int w, int h, Rgba c) {
  Ref<TPixmap> p = AllocatePixmap(w, h, FormatRGBA8888, 4);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) Put(p, x, y, c);
  return p;
}

TEST(ApplyMaskColor, KeyPixelTakesNeighbourAverage) {
  Ref<TPixmap> p = Filled(3, 3, {10, 20, 30, 7});
  Put(p, 1, 1, {0, 0, 0, 99});
  Ref<TPixmap> q = ApplyMaskColor(p, 0, 0, 0);
  EXPECT_EQ(At(q, 1, 1), (Rgba{10, 20, 30, 0}));
  EXPECT_EQ(At(q, 0, 0), (Rgba{10, 20, 30, 255}));
  EXPECT_EQ(At(q, 2, 2), (Rgba{10, 20, 30, 255}));
  EXPECT_NE(q.Get(), p.Get());
}

TEST(ApplyMaskColor, LonePixelOfKeyBecomesTransparentBlack) {
  Ref<TPixmap> q = ApplyMaskColor(Filled(1, 1, {5, 6, 7, 200}), 5, 6, 7);
  EXPECT_EQ(At(q, 0, 0), (Rgba{0, 0, 0, 0}));
}

TEST(ApplyMaskColor, AveragesOnlyNonKeyNeighboursInsideThePixmap) {
  // Row of key pixels with colours on the row below: corner and middle keys see different neighbours,
  // and a neighbouring key pixel must not count even once it has been processed.
  Ref<TPixmap> p = AllocatePixmap(3, 2, FormatRGBA8888, 4);
  Put(p, 0, 0, {255, 0, 255, 255});
  Put(p, 1, 0, {255, 0, 255, 255});
  Put(p, 2, 0, {255, 0, 255, 255});
  Put(p, 0, 1, {10, 0, 3, 255});
  Put(p, 1, 1, {20, 0, 4, 255});
  Put(p, 2, 1, {31, 0, 5, 255});
  Ref<TPixmap> q = ApplyMaskColor(p, 255, 0, 255);
  EXPECT_EQ(At(q, 0, 0), (Rgba{15, 0, 3, 0}));   // (10+20)/2, (3+4)/2
  EXPECT_EQ(At(q, 1, 0), (Rgba{20, 0, 4, 0}));   // 61/3, 12/3
  EXPECT_EQ(At(q, 2, 0), (Rgba{25, 0, 4, 0}));   // 51/2, 9/2
  EXPECT_EQ(At(q, 1, 1), (Rgba{20, 0, 4, 255}));
}

TEST(ApplyMaskColor, ConvertsOtherFormatsAndAlwaysReturnsNewRgba) {
  Ref<TPixmap> p = AllocatePixmap(2, 1, FormatBGR888, 4);
  p->WritePixel(0, 0, 0x00102030);
  p->WritePixel(1, 0, 0x00FF00FF);
  Ref<TPixmap> q = ApplyMaskColor(p, 255, 0, 255);
  EXPECT_EQ(q->format, FormatRGBA8888);
  EXPECT_EQ(At(q, 0, 0), (Rgba{0x10, 0x20, 0x30, 255}));
  EXPECT_EQ(At(q, 1, 0), (Rgba{0x10, 0x20, 0x30, 0}));
  Ref<TPixmap> none = ApplyMaskColor(p, 1, 2, 3);
  EXPECT_EQ(At(none, 1, 0), (Rgba{255, 0, 255, 255}));
  EXPECT_THROW(ApplyMaskColor(nullptr, 0, 0, 0), TNullObjectException);
}

TEST(Mirror, ColumnsAndRows) {
  Ref<TPixmap> p = AllocatePixmap(3, 2, FormatRGB888, 4);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) p->WritePixel(x, y, x + 10 * y);
  Ref<TPixmap> c = MirrorColumns(p);
  Ref<TPixmap> r = MirrorRows(p);
  EXPECT_EQ(c->format, FormatRGB888);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) {
      EXPECT_EQ(c->ReadPixel(x, y) & 0xFFFFFF, (2 - x) + 10 * y);
      EXPECT_EQ(r->ReadPixel(x, y) & 0xFFFFFF, x + 10 * (1 - y));
    }
  // A window source with a pitch wider than its rows.
  Ref<TPixmap> w = p->Window(1, 0, 2, 2);
  EXPECT_EQ(MirrorColumns(w)->ReadPixel(0, 1) & 0xFFFFFF, 12);
  EXPECT_EQ(MirrorRows(w)->ReadPixel(0, 0) & 0xFFFFFF, 11);
}

std::vector<int> RedRow(const Ref<TPixmap>& p, int y) {
  std::vector<int> v;
  for (int x = 0; x < p->width; ++x) v.push_back(p->PixelPtr(x, y)[0]);
  return v;
}

TEST(ScalePixmap, Values) {
  struct Case {
    std::vector<int> src;
    int width;
    std::vector<int> expected;
  } cases[] = {
      {{0, 100}, 4, {0, 25, 75, 100}},
      {{0, 100}, 2, {0, 100}},
      {{0, 100, 200, 50}, 2, {50, 125}},
      {{0, 255}, 3, {0, 127, 255}},
      {{9}, 3, {9, 9, 9}},
      {{0, 100}, 1, {50}},
      {{255, 0}, 4, {255, 191, 63, 0}},
  };
  for (const Case& c : cases) {
    Ref<TPixmap> p = AllocatePixmap(static_cast<int>(c.src.size()), 1, FormatRGBA8888, 4);
    for (size_t x = 0; x < c.src.size(); ++x) Put(p, static_cast<int>(x), 0, {c.src[x], 0, 0, 255});
    Ref<TPixmap> q = ScalePixmap(p, c.width, 1);
    EXPECT_EQ(RedRow(q, 0), c.expected) << "to width " << c.width;
  }
}

TEST(ScalePixmap, VerticalAndBothAxes) {
  Ref<TPixmap> p = AllocatePixmap(2, 2, FormatRGBA8888, 4);
  Put(p, 0, 0, {0, 0, 0, 0});
  Put(p, 1, 0, {100, 0, 0, 0});
  Put(p, 0, 1, {200, 0, 0, 0});
  Put(p, 1, 1, {40, 0, 0, 0});
  Ref<TPixmap> q = ScalePixmap(p, 4, 4);
  // (1,1) sits a quarter of the way in both directions from the top-left sample.
  double top = 0 + 100 * 0.25, bottom = 200 + (40 - 200) * 0.25;
  EXPECT_EQ(q->PixelPtr(1, 1)[0], static_cast<int>(top + (bottom - top) * 0.25));
  EXPECT_EQ(q->PixelPtr(0, 3)[0], 200);
  EXPECT_EQ(q->PixelPtr(3, 3)[0], 40);
  EXPECT_EQ(q->PixelPtr(0, 1)[0], 50);
  Ref<TPixmap> tall = ScalePixmap(p, 1, 4);
  EXPECT_EQ(tall->PixelPtr(0, 0)[0], 50);
  EXPECT_EQ(tall->PixelPtr(0, 3)[0], 120);
}

TEST(ScalePixmap, KeepsFormatAndHandlesEmptySizes) {
  Ref<TPixmap> p = AllocatePixmap(2, 1, FormatBGR888, 4);
  p->WritePixel(0, 0, 0x000000);
  p->WritePixel(1, 0, 0x640000);
  Ref<TPixmap> q = ScalePixmap(p, 4, 1);
  EXPECT_EQ(q->format, FormatBGR888);
  EXPECT_EQ(q->ReadPixel(1, 0) & 0xFFFFFF, 25 << 16);
  EXPECT_EQ(q->ReadPixel(2, 0) & 0xFFFFFF, 75 << 16);
  EXPECT_EQ(ScalePixmap(p, 0, 5)->width, 0);
  Ref<TPixmap> fromEmpty = ScalePixmap(AllocatePixmap(0, 0, FormatRGBA8888, 4), 2, 2);
  EXPECT_EQ(At(fromEmpty, 1, 1), (Rgba{0, 0, 0, 0}));
  EXPECT_THROW(ScalePixmap(p, -1, 1), TArrayBoundsException);
}

}  // namespace
}  // namespace kiln
