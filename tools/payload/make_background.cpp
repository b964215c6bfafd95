// Draws the status screen's background picture and writes it as a baseline JPEG of exactly the
// requested size, padded with comment segments right after the JFIF header. Run once by hand; the
// result is committed as payload/hg_grafik.jpg.
//
//   zpatch_make_background <out.jpg> <exact byte count>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <jpeglib.h>

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;

struct Rgb {
  double r, g, b;
};

Rgb Mix(Rgb a, Rgb b, double t) { return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t}; }

// A night-blue gradient with a pale moon, a row of hills and a glowing band for the text area.
std::vector<unsigned char> DrawPicture() {
  std::vector<unsigned char> rgb(static_cast<size_t>(kWidth) * kHeight * 3);
  const Rgb top{12, 14, 30}, bottom{30, 70, 160};
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      Rgb c = Mix(top, bottom, static_cast<double>(y) / (kHeight - 1));
      double mx = x - 500.0, my = y - 110.0;
      double moon = std::sqrt(mx * mx + my * my);
      if (moon < 48) c = Mix(c, Rgb{235, 232, 210}, moon < 44 ? 1.0 : (48 - moon) / 4);
      else if (moon < 110) c = Mix(c, Rgb{90, 110, 170}, 0.25 * (110 - moon) / 62);
      double hill = 360 + 40 * std::sin(x / 70.0) + 18 * std::sin(x / 23.0 + 1.3);
      if (y > hill) c = Mix(c, Rgb{20, 60, 45}, std::min(1.0, (y - hill) / 30 + 0.5));
      double band = std::fabs(y - 240.0);
      if (band < 30) c = Mix(c, Rgb{60, 90, 150}, 0.35 * (30 - band) / 30);
      // A faint diagonal weave keeps the encoder honest about detail.
      c.b += 6 * std::sin((x + y) / 5.0);
      unsigned char* p = &rgb[(static_cast<size_t>(y) * kWidth + x) * 3];
      p[0] = static_cast<unsigned char>(std::clamp(c.r, 4.0, 255.0));
      p[1] = static_cast<unsigned char>(std::clamp(c.g, 4.0, 255.0));
      p[2] = static_cast<unsigned char>(std::clamp(c.b, 4.0, 255.0));
    }
  }
  return rgb;
}

std::vector<unsigned char> Encode(const std::vector<unsigned char>& rgb, int quality) {
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr jerr{};
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_compress(&cinfo);
  unsigned char* out = nullptr;
  unsigned long outSize = 0;
  jpeg_mem_dest(&cinfo, &out, &outSize);
  cinfo.image_width = kWidth;
  cinfo.image_height = kHeight;
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<unsigned char*>(&rgb[static_cast<size_t>(cinfo.next_scanline) * kWidth * 3]);
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  std::vector<unsigned char> bytes(out, out + outSize);
  std::free(out);
  return bytes;
}

// Comment segments of at most 65535 length bytes each, together exactly `padding` bytes long.
std::vector<unsigned char> CommentSegments(size_t padding) {
  std::vector<unsigned char> seg;
  const std::string text = "Zunto Patcher background. ";
  size_t k = 0;
  while (padding > 0) {
    size_t total = std::min<size_t>(padding, 65535 + 2);
    // Never leave a remainder too small to hold a segment header.
    if (padding - total > 0 && padding - total < 4) total -= 4;
    size_t length = total - 2;
    seg.push_back(0xFF);
    seg.push_back(0xFE);
    seg.push_back(static_cast<unsigned char>(length >> 8));
    seg.push_back(static_cast<unsigned char>(length & 0xFF));
    for (size_t i = 0; i < length - 2; ++i) seg.push_back(static_cast<unsigned char>(text[k++ % text.size()]));
    padding -= total;
  }
  return seg;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s <out.jpg> <bytes>\n", argv[0]);
    return 2;
  }
  const size_t want = std::strtoul(argv[2], nullptr, 10);
  std::vector<unsigned char> jpeg = Encode(DrawPicture(), 95);
  // SOI, then the APP0 (JFIF) segment whose length field follows its marker.
  if (jpeg.size() < 6 || jpeg[2] != 0xFF || jpeg[3] != 0xE0) return 1;
  const size_t insertAt = 4 + ((static_cast<size_t>(jpeg[4]) << 8) | jpeg[5]);
  if (jpeg.size() + 4 > want) {
    std::fprintf(stderr, "picture is %zu bytes, more than %zu\n", jpeg.size(), want);
    return 1;
  }
  std::vector<unsigned char> pad = CommentSegments(want - jpeg.size());
  jpeg.insert(jpeg.begin() + static_cast<long>(insertAt), pad.begin(), pad.end());
  std::FILE* f = std::fopen(argv[1], "wb");
  if (f == nullptr || std::fwrite(jpeg.data(), 1, jpeg.size(), f) != jpeg.size() || std::fclose(f) != 0) return 1;
  std::printf("%zu bytes\n", jpeg.size());
  return 0;
}
