// Pixel run conversion to and from RGBA for every format, and through RGBA between the others.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "runtime/pixmap/pixmap.h"

namespace kiln {
namespace {

using Rgba = std::array<uint8_t, 4>;

struct FormatCase {
  int format;
  std::vector<uint8_t> bytes;  // one pixel
  Rgba expanded;               // what ExpandRunToRGBA gives for it
};

const FormatCase kExpandCases[] = {
    {FormatGrey8, {200}, {200, 200, 200, 255}},
    {FormatAlpha8, {200}, {255, 255, 255, 200}},
    {FormatBGR888, {1, 2, 3}, {3, 2, 1, 255}},
    {FormatRGB888, {1, 2, 3}, {1, 2, 3, 255}},
    {FormatBGRA8888, {1, 2, 3, 4}, {3, 2, 1, 4}},
    {FormatRGBA8888, {1, 2, 3, 4}, {1, 2, 3, 4}},
    {FormatRedOnly8, {200}, {200, 0, 0, 1}},
    {FormatGreenOnly8, {200}, {0, 200, 0, 1}},
    {FormatBlueOnly8, {200}, {0, 0, 200, 1}},
    {FormatAlphaOnly8, {200}, {0, 0, 0, 200}},
    {FormatIntensity8, {200}, {200, 200, 200, 200}},
    {FormatLuminance8, {200}, {200, 200, 200, 1}},
};

TEST(ConvertPixelRun, ExpandsEveryFormatToRgba) {
  for (const FormatCase& c : kExpandCases) {
    // Three pixels, so a loop that strides wrongly shows up in the later ones.
    std::vector<uint8_t> src;
    for (int i = 0; i < 3; ++i) src.insert(src.end(), c.bytes.begin(), c.bytes.end());
    std::vector<uint8_t> dst(12, 0xEE);
    ConvertPixelRun(src.data(), c.format, dst.data(), FormatRGBA8888, 3);
    for (int i = 0; i < 3; ++i)
      for (int k = 0; k < 4; ++k) EXPECT_EQ(dst[i * 4 + k], c.expanded[k]) << "format " << c.format << " pixel " << i;
  }
}

TEST(ConvertPixelRun, PacksRgbaIntoEveryFormat) {
  const Rgba px = {10, 20, 30, 40};
  struct Case {
    int format;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {FormatGrey8, {20}},          {FormatAlpha8, {40}},  {FormatBGR888, {30, 20, 10}}, {FormatRGB888, {10, 20, 30}},
      {FormatBGRA8888, {30, 20, 10, 40}}, {FormatRGBA8888, {10, 20, 30, 40}}, {FormatRedOnly8, {10}},
      {FormatGreenOnly8, {20}},     {FormatBlueOnly8, {30}}, {FormatAlphaOnly8, {40}}, {FormatIntensity8, {25}},
      {FormatLuminance8, {20}},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> src;
    for (int i = 0; i < 3; ++i) src.insert(src.end(), px.begin(), px.end());
    std::vector<uint8_t> dst(3 * c.bytes.size() + 1, 0xEE);
    ConvertPixelRun(src.data(), FormatRGBA8888, dst.data(), c.format, 3);
    for (int i = 0; i < 3; ++i)
      for (size_t k = 0; k < c.bytes.size(); ++k)
        EXPECT_EQ(dst[i * c.bytes.size() + k], c.bytes[k]) << "format " << c.format << " pixel " << i;
    EXPECT_EQ(dst.back(), 0xEE) << "wrote past the run, format " << c.format;
  }
}

TEST(ConvertPixelRun, AveragesTruncate) {
  const uint8_t px[4] = {1, 1, 2, 255};
  uint8_t out = 0;
  ConvertPixelRun(px, FormatRGBA8888, &out, FormatGrey8, 1);
  EXPECT_EQ(out, 1);  // 4 / 3
  ConvertPixelRun(px, FormatRGBA8888, &out, FormatIntensity8, 1);
  EXPECT_EQ(out, 64);  // 259 / 4
  const uint8_t white[4] = {255, 255, 255, 255};
  ConvertPixelRun(white, FormatRGBA8888, &out, FormatIntensity8, 1);
  EXPECT_EQ(out, 255);
}

// Every pair of formats must agree with expanding to RGBA and packing from it, including the pairs that
// have loops of their own and runs longer than the intermediate buffer.
TEST(ConvertPixelRun, EveryPairMatchesTheRgbaRoute) {
  const int n = 1000;
  for (int sf = 1; sf < PixelFormatCount; ++sf) {
    std::vector<uint8_t> src(static_cast<size_t>(n) * BytesPerPixel(sf));
    for (size_t i = 0; i < src.size(); ++i) src[i] = static_cast<uint8_t>(i * 7 + i / 5);
    std::vector<uint8_t> rgba(static_cast<size_t>(n) * 4);
    ConvertPixelRun(src.data(), sf, rgba.data(), FormatRGBA8888, n);
    for (int df = 1; df < PixelFormatCount; ++df) {
      std::vector<uint8_t> viaRgba(static_cast<size_t>(n) * BytesPerPixel(df));
      ConvertPixelRun(rgba.data(), FormatRGBA8888, viaRgba.data(), df, n);
      std::vector<uint8_t> direct(viaRgba.size());
      ConvertPixelRun(src.data(), sf, direct.data(), df, n);
      if (sf == df) {
        EXPECT_EQ(direct, src) << sf;
      } else {
        EXPECT_EQ(direct, viaRgba) << sf << " -> " << df;
      }
    }
  }
}

TEST(ConvertPixelRun, RoundTripsThroughRgbaForColourFormats) {
  const int formats[] = {FormatBGR888, FormatRGB888, FormatBGRA8888, FormatRGBA8888};
  for (int f : formats) {
    int bpp = BytesPerPixel(f);
    std::vector<uint8_t> src(64 * bpp);
    for (size_t i = 0; i < src.size(); ++i) src[i] = static_cast<uint8_t>(i * 13);
    std::vector<uint8_t> rgba(64 * 4), back(src.size());
    ConvertPixelRun(src.data(), f, rgba.data(), FormatRGBA8888, 64);
    ConvertPixelRun(rgba.data(), FormatRGBA8888, back.data(), f, 64);
    EXPECT_EQ(back, src) << f;
  }
}

TEST(ConvertPixelRun, UnknownFormats) {
  uint8_t src[4] = {1, 2, 3, 4};
  uint8_t dst[4] = {9, 9, 9, 9};
  ConvertPixelRun(src, FormatRGBA8888, dst, 13, 1);
  EXPECT_EQ(dst[0], 9);
  ConvertPixelRun(src, 0, dst, FormatRGBA8888, 1);
  EXPECT_EQ(dst[0], 0);
  EXPECT_EQ(dst[3], 0);
  ConvertPixelRun(src, FormatRGBA8888, dst, FormatGrey8, 0);
  ConvertPixelRun(src, FormatRGBA8888, dst, FormatGrey8, -5);
  EXPECT_EQ(dst[0], 0);
}

TEST(CopyPixelRun, CopiesWholePixels) {
  uint8_t src[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  uint8_t dst[9] = {};
  CopyPixelRun(src, dst, FormatRGB888, 2);
  EXPECT_EQ(dst[5], 6);
  EXPECT_EQ(dst[6], 0);
}

}  // namespace
}  // namespace kiln
