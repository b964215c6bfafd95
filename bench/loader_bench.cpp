// Picture decoding through the loader registry against the same bytes decoded by calling libjpeg and
// libpng directly. After the run, each pair is printed as a ratio (runtime time / library time).
#include <benchmark/benchmark.h>
#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "bench/ratio_report.h"
#include "runtime/pixmap/pixmap_loader.h"
#include "runtime/pixmap/pixmap_loaders.h"
#include "runtime/stream/ram_stream.h"

namespace {

using kiln::Ref;
using kiln::TPixmap;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A 640 x 480 picture with smooth and sharp parts, for when the payload picture is not there.
Ref<TPixmap> SyntheticPicture(int format) {
  Ref<TPixmap> p = kiln::AllocatePixmap(640, 480, format, 4);
  for (int y = 0; y < 480; ++y)
    for (int x = 0; x < 640; ++x) {
      uint32_t a = static_cast<uint32_t>(((x ^ y) & 0x40) != 0 ? 255 : 128 + (x & 0x7F));
      p->WritePixel(x, y, static_cast<int>(a << 24 | (x * 255 / 639) << 16 | (y * 255 / 479) << 8 | ((x * y) & 0xFF)));
    }
  return p;
}

std::string SaveToMemory(const Ref<TPixmap>& p, bool png) {
  std::vector<unsigned char> block(8 << 20);
  Ref<kiln::TRamStream> s = kiln::TRamStream::Create(block.data(), static_cast<int64_t>(block.size()), 0, 1);
  if (png) {
    kiln::SavePixmapAsPng(p, s, 6);
  } else {
    kiln::SavePixmapAsJpeg(p, s, 85);
  }
  return std::string(reinterpret_cast<const char*>(block.data()), static_cast<size_t>(s->Pos()));
}

// The background picture the program shows: the payload JPEG, or one made here like it.
const std::string& BackgroundJpeg() {
  static const std::string bytes = [] {
    std::string payload = ReadFile(std::string(KILN_SOURCE_DIR) + "/payload/hg_grafik.jpg");
    return payload.empty() ? SaveToMemory(SyntheticPicture(kiln::FormatRGB888), false) : payload;
  }();
  return bytes;
}

const std::string& RgbaPng() {
  static const std::string bytes = SaveToMemory(SyntheticPicture(kiln::FormatRGBA8888), true);
  return bytes;
}

void BM_Jpeg640x480_PixmapFromUrl(benchmark::State& state) {
  const std::string& bytes = BackgroundJpeg();
  for (auto _ : state) {
    Ref<TPixmap> p = kiln::PixmapFromUrl(kiln::TRamStream::Create(bytes.data(), static_cast<int64_t>(bytes.size())));
    if (!p || p->width != 640) state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(p->pixels);
  }
}

struct JpegJump {
  jpeg_error_mgr err;
  std::jmp_buf jump;
};

void JpegErrorExit(j_common_ptr cinfo) { std::longjmp(reinterpret_cast<JpegJump*>(cinfo->err)->jump, 1); }

// What a program using libjpeg directly does: memory source, default output, one packed buffer.
bool DecodeJpegDirect(const std::string& bytes, std::unique_ptr<unsigned char[]>& out) {
  jpeg_decompress_struct cinfo;
  JpegJump err;
  cinfo.err = jpeg_std_error(&err.err);
  err.err.error_exit = JpegErrorExit;
  if (setjmp(err.jump) != 0) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<unsigned long>(bytes.size()));
  jpeg_read_header(&cinfo, TRUE);
  jpeg_start_decompress(&cinfo);
  size_t stride = static_cast<size_t>(cinfo.output_width) * static_cast<size_t>(cinfo.output_components);
  out = std::make_unique_for_overwrite<unsigned char[]>(stride * cinfo.output_height);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = out.get() + stride * cinfo.output_scanline;
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return true;
}

void BM_Jpeg640x480_LibjpegDirect(benchmark::State& state) {
  const std::string& bytes = BackgroundJpeg();
  for (auto _ : state) {
    std::unique_ptr<unsigned char[]> out;
    if (!DecodeJpegDirect(bytes, out)) state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(out.get());
  }
}

void BM_Png640x480Rgba_PixmapFromUrl(benchmark::State& state) {
  const std::string& bytes = RgbaPng();
  for (auto _ : state) {
    Ref<TPixmap> p = kiln::PixmapFromUrl(kiln::TRamStream::Create(bytes.data(), static_cast<int64_t>(bytes.size())));
    if (!p || p->format != kiln::FormatRGBA8888) state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(p->pixels);
  }
}

struct MemoryReader {
  const std::string* bytes;
  size_t pos;
};

void ReadFromMemory(png_structp png, png_bytep data, size_t length) {
  auto* r = static_cast<MemoryReader*>(png_get_io_ptr(png));
  if (length > r->bytes->size() - r->pos) png_error(png, "short");
  std::memcpy(data, r->bytes->data() + r->pos, length);
  r->pos += length;
}

// What a program using libpng directly does: a memory read callback, png_read_png with the same
// transforms, rows left in libpng's own buffers.
bool DecodePngDirect(const std::string& bytes) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  MemoryReader reader{&bytes, 0};
  if (setjmp(png_jmpbuf(png)) != 0) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  png_set_read_fn(png, &reader, ReadFromMemory);
  png_read_png(png, info, PNG_TRANSFORM_STRIP_16 | PNG_TRANSFORM_EXPAND, nullptr);
  benchmark::DoNotOptimize(png_get_rows(png, info));
  png_destroy_read_struct(&png, &info, nullptr);
  return true;
}

void BM_Png640x480Rgba_LibpngDirect(benchmark::State& state) {
  const std::string& bytes = RgbaPng();
  for (auto _ : state) {
    if (!DecodePngDirect(bytes)) state.SkipWithError("decode failed");
  }
}

BENCHMARK(BM_Jpeg640x480_PixmapFromUrl)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Jpeg640x480_LibjpegDirect)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Png640x480Rgba_PixmapFromUrl)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Png640x480Rgba_LibpngDirect)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  kiln::InitPixmapLoaders();
  return kiln::bench::RunWithRatios(argc, argv,
                                    {{"BM_Jpeg640x480_PixmapFromUrl", "BM_Jpeg640x480_LibjpegDirect"},
                                     {"BM_Png640x480Rgba_PixmapFromUrl", "BM_Png640x480Rgba_LibpngDirect"}});
}
