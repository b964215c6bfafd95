// Writing pixmaps as JPEG through libjpeg into a runtime stream.
//
// As in the loader, libjpeg's fatal errors jump back to the setjmp in EncodeRows, and stream
// exceptions are parked in the encode state and thrown again after the compressor is released.
#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <memory>

// clang-format off
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

#include "runtime/pixmap/pixmap_loaders.h"
#include "runtime/stream/stream_factory.h"

namespace kiln {

namespace {

constexpr int kOutputBufferSize = 4096;

// Writes the bytes: the count actually stored.
using JpegWriteFn = int (*)(const void* buffer, int size, TStream& stream);

int JpegWriteCallback(const void* buffer, int size, TStream& stream) { return stream.Write(buffer, size); }

struct JpegEncode;

struct JpegDestination {
  jpeg_destination_mgr pub;
  JpegEncode* owner;
  JOCTET buffer[kOutputBufferSize];
};

struct JpegEncode {
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr err{};
  JpegDestination destination{};
  std::jmp_buf jump{};
  TStream* stream = nullptr;
  JpegWriteFn write = nullptr;
  std::exception_ptr pending;
  bool created = false;

  ~JpegEncode() {
    if (created) jpeg_destroy_compress(&cinfo);
  }
};

JpegEncode& Owner(j_common_ptr cinfo) { return *static_cast<JpegEncode*>(cinfo->client_data); }

[[noreturn]] void ErrorExit(j_common_ptr cinfo) { std::longjmp(Owner(cinfo).jump, 1); }
void EmitMessage(j_common_ptr, int) {}
void OutputMessage(j_common_ptr) {}
void ResetErrorManager(j_common_ptr cinfo) {
  cinfo->err->num_warnings = 0;
  cinfo->err->msg_code = 0;
}

// The stream write, with any exception parked for the caller: -1 when one was.
int WriteFromBuffer(JpegEncode& e, int count) noexcept {
  try {
    return e.write(e.destination.buffer, count, *e.stream);
  } catch (...) {
    e.pending = std::current_exception();
    return -1;
  }
}

void InitDestination(j_compress_ptr cinfo) {
  cinfo->dest->next_output_byte = reinterpret_cast<JpegDestination*>(cinfo->dest)->buffer;
  cinfo->dest->free_in_buffer = kOutputBufferSize;
}

boolean EmptyOutputBuffer(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<JpegDestination*>(cinfo->dest);
  if (WriteFromBuffer(*dest->owner, kOutputBufferSize) != kOutputBufferSize) ERREXIT(cinfo, JERR_FILE_WRITE);
  dest->pub.next_output_byte = dest->buffer;
  dest->pub.free_in_buffer = kOutputBufferSize;
  return TRUE;
}

void TermDestination(j_compress_ptr cinfo) {
  auto* dest = reinterpret_cast<JpegDestination*>(cinfo->dest);
  int count = kOutputBufferSize - static_cast<int>(dest->pub.free_in_buffer);
  if (count > 0 && WriteFromBuffer(*dest->owner, count) != count) ERREXIT(cinfo, JERR_FILE_WRITE);
}

// Compresses the rows; false on a libjpeg error. No C++ object with a destructor lives between the
// setjmp and any jump back to it.
bool EncodeRows(JpegEncode* e, int width, int height, int pitch, const uint8_t* pixels, int quality) {
  if (setjmp(e->jump) != 0) return false;
  jpeg_create_compress(&e->cinfo);
  e->created = true;
  e->destination.owner = e;
  e->destination.pub.init_destination = InitDestination;
  e->destination.pub.empty_output_buffer = EmptyOutputBuffer;
  e->destination.pub.term_destination = TermDestination;
  e->cinfo.dest = &e->destination.pub;
  e->cinfo.image_width = static_cast<JDIMENSION>(width);
  e->cinfo.image_height = static_cast<JDIMENSION>(height);
  e->cinfo.input_components = 3;
  e->cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&e->cinfo);
  jpeg_set_quality(&e->cinfo, quality, TRUE);
  jpeg_start_compress(&e->cinfo, TRUE);
  const uint8_t* row = pixels;
  while (e->cinfo.next_scanline < e->cinfo.image_height) {
    JSAMPROW rowPointer = const_cast<JSAMPROW>(row);
    jpeg_write_scanlines(&e->cinfo, &rowPointer, 1);
    row += pitch;
  }
  jpeg_finish_compress(&e->cinfo);
  return true;
}

// 0 on success, 1 on a coder error (including a short write); a stream's own exception is thrown on
// after the compressor is released.
int EncodeJpegStream(TStream& stream, JpegWriteFn write, int width, int height, int pitch,
                     const uint8_t* pixels, int quality) {
  auto e = std::make_unique<JpegEncode>();
  e->stream = &stream;
  e->write = write;
  e->cinfo.err = jpeg_std_error(&e->err);
  e->err.error_exit = ErrorExit;
  e->err.emit_message = EmitMessage;
  e->err.output_message = OutputMessage;
  e->err.reset_error_mgr = ResetErrorManager;
  e->cinfo.client_data = e.get();
  bool encoded = EncodeRows(e.get(), width, height, pitch, pixels, quality);
  if (e->pending) std::rethrow_exception(e->pending);
  return encoded ? 0 : 1;
}

void CloseQuietly(const Ref<TStream>& stream) {
  try {
    stream->Close();
  } catch (const TStreamException&) {
  }
}

}  // namespace

int SavePixmapAsJpeg(const Ref<TPixmap>& pixmap, const Url& url, int quality) {
  if (!pixmap) RaiseNullObject();
  Ref<TStream> stream = WritableStreamFromUrl(url);
  if (!stream) return 0;
  int result = 1;
  try {
    Ref<TPixmap> rgb = pixmap->Convert(FormatRGB888);
    result = EncodeJpegStream(*stream, JpegWriteCallback, rgb->width, rgb->height, rgb->pitch,
                              rgb->PixelPtr(0, 0), quality);
  } catch (const TStreamException&) {
    result = 1;
  } catch (...) {
    CloseQuietly(stream);
    throw;
  }
  // A file whose last bytes could not be flushed is a failed save as well.
  try {
    stream->Close();
  } catch (const TStreamException&) {
    result = 1;
  }
  return result == 0 ? 1 : 0;
}

}  // namespace kiln
