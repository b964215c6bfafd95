// Writing pixmaps as PNG through libpng into a runtime stream.
//
// As in the loader, libpng's error callback jumps back to the setjmp in WriteImage, the failure
// becomes the thrown text "PNG ERROR", and a stream exception is parked until libpng's structures are
// released.
#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <exception>
#include <memory>
#include <vector>

#include "runtime/pixmap/pixmap_loaders.h"
#include "runtime/stream/stream_factory.h"

namespace kiln {

namespace {

const Text& PngErrorText() {
  static const Text text("PNG ERROR");
  return text;
}

struct PngWrite {
  png_structp png = nullptr;
  png_infop info = nullptr;
  std::jmp_buf jump{};
  TStream* stream = nullptr;
  std::exception_ptr pending;

  ~PngWrite() {
    if (png != nullptr) png_destroy_write_struct(&png, info != nullptr ? &info : nullptr);
  }
};

PngWrite& Owner(png_structp png) { return *static_cast<PngWrite*>(png_get_io_ptr(png)); }

[[noreturn]] void PngErrorCallback(png_structp png, png_const_charp) {
  std::longjmp(static_cast<PngWrite*>(png_get_error_ptr(png))->jump, 1);
}

void PngWarningCallback(png_structp, png_const_charp) {}

bool WriteAll(PngWrite& w, png_bytep data, size_t length) noexcept {
  try {
    while (length > 0) {
      int n = static_cast<int>(std::min<size_t>(length, 1u << 30));
      w.stream->WriteBytes(data, n);
      data += n;
      length -= static_cast<size_t>(n);
    }
    return true;
  } catch (...) {
    w.pending = std::current_exception();
    return false;
  }
}

bool FlushAll(PngWrite& w) noexcept {
  try {
    w.stream->Flush();
    return true;
  } catch (...) {
    w.pending = std::current_exception();
    return false;
  }
}

void PngWriteCallback(png_structp png, png_bytep data, size_t length) {
  if (!WriteAll(Owner(png), data, length)) png_error(png, "write");
}

void PngFlushCallback(png_structp png) {
  if (!FlushAll(Owner(png))) png_error(png, "flush");
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
  w->png = png_create_write_struct(PNG_LIBPNG_VER_STRING, w, PngErrorCallback, PngWarningCallback);
  if (w->png == nullptr) return false;
  w->info = png_create_info_struct(w->png);
  if (w->info == nullptr) return false;
  png_set_write_fn(w->png, w, PngWriteCallback, PngFlushCallback);
  png_set_compression_level(w->png, image->level);
  png_set_IHDR(w->png, w->info, static_cast<png_uint_32>(image->width), static_cast<png_uint_32>(image->height),
               8, image->colourType, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_rows(w->png, w->info, image->rows);
  png_write_png(w->png, w->info, image->transforms, nullptr);
  return true;
}

// Throws "PNG ERROR" when libpng fails, the stream's exception when a write fails.
void EncodePngStream(TStream& stream, const Ref<TPixmap>& pixmap, int level) {
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
  if (WriteImage(w.get(), &image)) return;
  if (w->pending) std::rethrow_exception(w->pending);
  throw PngErrorText();
}

void CloseQuietly(const Ref<TStream>& stream) {
  try {
    stream->Close();
  } catch (const TStreamException&) {
  }
}

}  // namespace

int SavePixmapAsPng(const Ref<TPixmap>& pixmap, const Url& url, int compression) {
  if (!pixmap) RaiseNullObject();
  int level = std::clamp(compression, 0, 9);
  Ref<TStream> stream = WritableStreamFromUrl(url);
  if (!stream) return 0;
  bool saved = false;
  try {
    EncodePngStream(*stream, pixmap, level);
    saved = true;
  } catch (const TStreamException&) {
  } catch (const Text& thrown) {
    if (!(thrown == PngErrorText())) {
      CloseQuietly(stream);
      throw;
    }
  } catch (...) {
    CloseQuietly(stream);
    throw;
  }
  // A file whose last bytes could not be flushed is a failed save as well.
  try {
    stream->Close();
  } catch (const TStreamException&) {
    saved = false;
  }
  return saved ? 1 : 0;
}

}  // namespace kiln
