// PNG pictures through libpng: the loader decodes from a runtime stream into a grey, RGB or RGBA
// pixmap, and SavePixmapAsPng encodes a pixmap into one. The only file that talks to libpng.
//
// libpng's error callback must not return. Ours jumps back to the setjmp in ReadHeader, ReadRows or
// WriteImage; the frames in between belong to libpng and to our I/O callbacks, none holding an object
// with a destructor. Once back, a failed decode becomes the thrown text "PNG ERROR", which
// PixmapFromPng turns into the empty pointer, and a failed encode makes SavePixmapAsPng return 0. An
// exception from the stream (a short read or a failed write) is parked in the coder state, reported to
// libpng as an error, and thrown on after libpng's structures are released.
//
// libpng 1.6 refuses to create its structures for a caller built against 1.2, so the version passed
// is the one of the headers this file is compiled with, which is the library it links.
#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <exception>
#include <memory>
#include <vector>

#include "runtime/pixmap/internal/loader_support.h"
#include "runtime/pixmap/pixmap_loaders.h"
#include "runtime/stream/stream_closer.h"
#include "runtime/stream/stream_factory.h"

namespace kiln {

namespace {

constexpr int kSignatureSize = 8;
// Decoded pictures needing more bytes than this (in the pixmap format they decode to) are refused
// before any pixel memory is taken.
constexpr int64_t kMaxDecodedBytes = int64_t{256} << 20;
// zlib expands at most about 1032 to 1, so a stream of known size cannot fill more than this many
// bytes of rows per byte left in it.
constexpr int64_t kMaxInflateRatio = 1100;
// Ceiling for a single ancillary chunk held in memory (text, profiles).
constexpr png_alloc_size_t kMaxChunkBytes = 8u << 20;

const Text& PngErrorText() {
  static const Text text("PNG ERROR");
  return text;
}

// What the error and I/O callbacks reach through libpng's error and I/O pointers: the jump target,
// the stream, and a stream exception parked until libpng's structures are released.
struct PngCoder {
  std::jmp_buf jump{};
  TStream* stream = nullptr;
  std::exception_ptr pending;
};

PngCoder& Coder(png_structp png) { return *static_cast<PngCoder*>(png_get_io_ptr(png)); }

[[noreturn]] void PngErrorCallback(png_structp png, png_const_charp) {
  std::longjmp(static_cast<PngCoder*>(png_get_error_ptr(png))->jump, 1);
}

void PngWarningCallback(png_structp, png_const_charp) {}

// Moves `length` bytes through `transfer` (a stream's int-counted ReadBytes or WriteBytes) in pieces
// an int can count; a libpng error when the stream raised.
template <class Transfer>
void TransferAll(png_structp png, png_bytep data, size_t length, Transfer transfer) {
  bool done = KeepException(Coder(png).pending, [&] {
    while (length > 0) {
      int n = static_cast<int>(std::min<size_t>(length, 1u << 30));
      transfer(*Coder(png).stream, data, n);
      data += n;
      length -= static_cast<size_t>(n);
    }
  });
  if (!done) png_error(png, "stream");
}

// ---- Decoding

// One decode: libpng's structures, the jump target and the stream, released together.
struct PngRead : PngCoder {
  png_structp png = nullptr;
  png_infop info = nullptr;
  // Bytes left in the stream after the signature; -1 when the stream cannot tell.
  int64_t available = -1;
  png_uint_32 width = 0;
  png_uint_32 height = 0;
  int bitDepth = 0;
  int colourType = 0;
  size_t rowBytes = 0;

  ~PngRead() {
    if (png != nullptr) png_destroy_read_struct(&png, info != nullptr ? &info : nullptr, nullptr);
  }
};

void PngReadCallback(png_structp png, png_bytep data, size_t length) {
  TransferAll(png, data, length, [](TStream& s, png_bytep p, int n) { s.ReadBytes(p, n); });
}

enum class Header { kOk, kFailed, kUnsupported };

// Creates libpng's structures and reads everything up to the first row, with 16-bit samples stripped
// to 8 bits and palettes, small grey depths and transparency chunks expanded. No C++ object with a
// destructor lives between the setjmp and any jump back to it.
Header ReadHeader(PngRead* r) {
  if (setjmp(r->jump) != 0) return Header::kFailed;
  r->png = png_create_read_struct(PNG_LIBPNG_VER_STRING, static_cast<PngCoder*>(r), PngErrorCallback,
                                  PngWarningCallback);
  if (r->png == nullptr) return Header::kUnsupported;
  r->info = png_create_info_struct(r->png);
  if (r->info == nullptr) return Header::kUnsupported;
  png_set_sig_bytes(r->png, kSignatureSize);
  png_set_read_fn(r->png, static_cast<PngCoder*>(r), PngReadCallback);
  png_set_chunk_malloc_max(r->png, kMaxChunkBytes);
  png_read_info(r->png, r->info);

  int64_t pixels = int64_t{png_get_image_width(r->png, r->info)} * png_get_image_height(r->png, r->info);
  // Even one byte a pixel is too much: refused before libpng sizes anything for the expanded rows.
  if (pixels > kMaxDecodedBytes) return Header::kUnsupported;
  int64_t packedBytes = int64_t{png_get_image_height(r->png, r->info)} *
                        (int64_t{1} + static_cast<int64_t>(png_get_rowbytes(r->png, r->info)));
  if (r->available >= 0 && packedBytes > r->available * kMaxInflateRatio) return Header::kUnsupported;

  png_set_strip_16(r->png);
  png_set_expand(r->png);
  png_set_interlace_handling(r->png);
  png_read_update_info(r->png, r->info);
  png_get_IHDR(r->png, r->info, &r->width, &r->height, &r->bitDepth, &r->colourType, nullptr, nullptr,
               nullptr);
  r->rowBytes = png_get_rowbytes(r->png, r->info);
  // The pixmap that results, 4-byte aligned rows of 1 (grey), 3 (RGB) or 4 bytes a pixel, and for
  // grey with alpha the block of 2-byte pixels it is expanded from.
  int channels = png_get_channels(r->png, r->info);
  int pixmapBytesPerPixel = channels == 1 ? 1 : channels == 3 ? 3 : 4;
  int64_t pitch = (int64_t{r->width} * pixmapBytesPerPixel + 3) / 4 * 4;
  int64_t decodedBytes = pitch * r->height;
  if (channels == 2) decodedBytes += static_cast<int64_t>(r->rowBytes) * r->height;
  if (decodedBytes > kMaxDecodedBytes) return Header::kUnsupported;
  return Header::kOk;
}

// Decodes every row (all passes of an interlaced picture) and the chunks after them.
bool ReadRows(PngRead* r, png_bytepp rows) {
  if (setjmp(r->jump) != 0) return false;
  png_read_image(r->png, rows);
  png_read_end(r->png, r->info);
  return true;
}

[[noreturn]] void FailDecode(PngRead& r) {
  if (r.pending) std::rethrow_exception(r.pending);
  RaiseText("PNG ERROR");
}

// Decodes the picture after its signature. Throws "PNG ERROR" for anything libpng rejects, and the
// stream's exception for a short read; the empty pointer for pictures this loader does not take.
Ref<TPixmap> DecodePngStream(TStream& stream) {
  auto r = std::make_unique<PngRead>();
  r->stream = &stream;
  int64_t size = stream.Size();
  int64_t pos = stream.Pos();
  if (size > 0 && pos >= 0) r->available = std::max<int64_t>(size - pos, 0);

  Header header = ReadHeader(r.get());
  if (header == Header::kFailed) FailDecode(*r);
  if (header != Header::kOk || r->bitDepth != 8) return nullptr;

  int width = static_cast<int>(r->width);
  int height = static_cast<int>(r->height);
  int format;
  switch (r->colourType) {
    case PNG_COLOR_TYPE_GRAY: format = FormatGrey8; break;
    case PNG_COLOR_TYPE_RGB: format = FormatRGB888; break;
    case PNG_COLOR_TYPE_RGB_ALPHA:
    case PNG_COLOR_TYPE_GRAY_ALPHA: format = FormatRGBA8888; break;
    default: return nullptr;
  }
  Ref<TPixmap> pixmap = AllocatePixmap(width, height, format, 4);
  bool greyAlpha = r->colourType == PNG_COLOR_TYPE_GRAY_ALPHA;
  if (greyAlpha ? r->rowBytes != static_cast<size_t>(width) * 2 : r->rowBytes > static_cast<size_t>(pixmap->pitch)) {
    return nullptr;
  }
  std::vector<png_bytep> rows(static_cast<size_t>(height));

  if (!greyAlpha) {
    for (int y = 0; y < height; ++y) rows[static_cast<size_t>(y)] = pixmap->PixelPtr(0, y);
    if (!ReadRows(r.get(), rows.data())) FailDecode(*r);
    return pixmap;
  }

  // Grey with alpha has no pixmap format of its own: each (grey, alpha) pair becomes RGBA.
  std::vector<png_byte> block(r->rowBytes * static_cast<size_t>(height));
  for (int y = 0; y < height; ++y) rows[static_cast<size_t>(y)] = block.data() + r->rowBytes * y;
  if (!ReadRows(r.get(), rows.data())) FailDecode(*r);
  for (int y = 0; y < height; ++y) {
    const png_byte* src = rows[static_cast<size_t>(y)];
    uint8_t* dst = pixmap->PixelPtr(0, y);
    for (int x = 0; x < width; ++x, src += 2, dst += 4) {
      dst[0] = dst[1] = dst[2] = src[0];
      dst[3] = src[1];
    }
  }
  return pixmap;
}

class TPixmapLoaderPNG : public TPixmapLoader {
 public:
  Ref<TPixmap> LoadPixmap(const Ref<TStream>& stream) override { return PixmapFromPng(stream); }
};


// ---- Encoding

// One encode: libpng's write structures, released together.
struct PngWrite : PngCoder {
  png_structp png = nullptr;
  png_infop info = nullptr;

  ~PngWrite() {
    if (png != nullptr) png_destroy_write_struct(&png, info != nullptr ? &info : nullptr);
  }
};

void PngWriteCallback(png_structp png, png_bytep data, size_t length) {
  TransferAll(png, data, length, [](TStream& s, png_bytep p, int n) { s.WriteBytes(p, n); });
}

void PngFlushCallback(png_structp png) {
  if (!KeepException(Coder(png).pending, [&] { Coder(png).stream->Flush(); })) png_error(png, "flush");
}

struct PngImage {
  int width;
  int height;
  int colourType;
  int transforms;
  int level;
  png_bytepp rows;
};

// Writes the whole picture; false on any libpng error. No C++ object with a destructor lives between
// the setjmp and any jump back to it.
bool WriteImage(PngWrite* w, const PngImage* image) {
  if (setjmp(w->jump) != 0) return false;
  w->png = png_create_write_struct(PNG_LIBPNG_VER_STRING, static_cast<PngCoder*>(w), PngErrorCallback,
                                   PngWarningCallback);
  if (w->png == nullptr) return false;
  w->info = png_create_info_struct(w->png);
  if (w->info == nullptr) return false;
  png_set_write_fn(w->png, static_cast<PngCoder*>(w), PngWriteCallback, PngFlushCallback);
  png_set_compression_level(w->png, image->level);
  png_set_IHDR(w->png, w->info, static_cast<png_uint_32>(image->width), static_cast<png_uint_32>(image->height),
               8, image->colourType, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_rows(w->png, w->info, image->rows);
  png_write_png(w->png, w->info, image->transforms, nullptr);
  return true;
}

// True when the picture was written; false when libpng failed. A stream's own exception is thrown on
// after libpng's structures are released.
bool EncodePngStream(TStream& stream, const Ref<TPixmap>& pixmap, int level) {
  Ref<TPixmap> source = pixmap;
  PngImage image{pixmap->width, pixmap->height, PNG_COLOR_TYPE_RGB_ALPHA, PNG_TRANSFORM_IDENTITY, level,
                 nullptr};
  switch (pixmap->format) {
    case FormatGrey8: image.colourType = PNG_COLOR_TYPE_GRAY; break;
    case FormatBGR888: image.colourType = PNG_COLOR_TYPE_RGB; image.transforms = PNG_TRANSFORM_BGR; break;
    case FormatRGB888: image.colourType = PNG_COLOR_TYPE_RGB; break;
    case FormatBGRA8888: image.transforms = PNG_TRANSFORM_BGR; break;
    case FormatRGBA8888: break;
    default: source = pixmap->Convert(FormatRGBA8888); break;
  }
  std::vector<png_bytep> rows(static_cast<size_t>(std::max(source->height, 0)));
  for (int y = 0; y < source->height; ++y) rows[static_cast<size_t>(y)] = source->PixelPtr(0, y);
  image.rows = rows.data();

  auto w = std::make_unique<PngWrite>();
  w->stream = &stream;
  bool written = WriteImage(w.get(), &image);
  if (w->pending) std::rethrow_exception(w->pending);
  return written;
}

}  // namespace

Ref<TPixmap> PixmapFromPng(const Url& source) {
  Ref<TStream> stream = ReadableStreamFromUrl(source);
  if (!stream) return nullptr;
  StreamCloser closer(stream);
  uint8_t signature[kSignatureSize];
  if (ReadUpTo(*stream, signature, kSignatureSize) < kSignatureSize ||
      png_sig_cmp(signature, 0, kSignatureSize) != 0) {
    return nullptr;
  }
  try {
    return DecodePngStream(*stream);
  } catch (const Text& thrown) {
    if (thrown == PngErrorText()) return nullptr;
    throw;
  }
}

int SavePixmapAsPng(const Ref<TPixmap>& pixmap, const Url& url, int compression) {
  if (!pixmap) RaiseNullObject();
  int level = std::clamp(compression, 0, 9);
  return SaveToUrl(url, [&](TStream& stream) { return EncodePngStream(stream, pixmap, level); });
}

void InitPngLoader() { RegisterLoaderOnce<TPixmapLoaderPNG>(); }

}  // namespace kiln
