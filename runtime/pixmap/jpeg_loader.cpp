// The JPEG picture loader: libjpeg decodes from a runtime stream straight into a pixmap.
//
// libjpeg reports fatal errors through the error manager, which must not return. Ours jumps back to
// the setjmp in DecodeHeader or DecodeRows; everything between that setjmp and the jump is libjpeg
// or the source manager, and none of those frames holds an object with a destructor. An exception
// thrown by the stream is caught in the source manager, parked in the decode state, turned into a
// libjpeg fatal error, and thrown again once libjpeg's structures are released.
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

#include "runtime/pixmap/pixmap_loader.h"
#include "runtime/pixmap/pixmap_loaders.h"
#include "runtime/pixmap/pixmap_module.h"
#include "runtime/stream/stream_closer.h"
#include "runtime/stream/stream_factory.h"

namespace kiln {

namespace {

constexpr int kInputBufferSize = 4096;
// Pictures whose decoded rows need more bytes than this are refused before any pixel memory is taken.
constexpr int64_t kMaxDecodedBytes = int64_t{256} << 20;
// Ceiling for libjpeg's own working memory (progressive pictures keep all coefficients).
constexpr long kMaxLibjpegMemory = 768L << 20;
// Progressive pictures with more scans than this are refused: each scan walks every coefficient, so
// a small crafted file could otherwise keep the decoder busy for minutes.
constexpr int kMaxScans = 1000;

// Fills the buffer from the stream: the count actually read, 0 at the end.
using JpegReadFn = int (*)(void* buffer, int size, TStream& stream);

int JpegReadCallback(void* buffer, int size, TStream& stream) { return stream.Read(buffer, size); }

struct JpegDecode;

struct JpegSource {
  jpeg_source_mgr pub;
  JpegDecode* owner;
  bool startOfFile;
  JOCTET buffer[kInputBufferSize];
};

// Everything one decode needs, owned by one object so that every exit releases libjpeg's structures.
struct JpegDecode {
  jpeg_decompress_struct cinfo{};
  jpeg_error_mgr err{};
  jpeg_progress_mgr progress{};
  JpegSource source{};
  std::jmp_buf jump{};
  TStream* stream = nullptr;
  JpegReadFn read = nullptr;
  std::exception_ptr pending;
  bool created = false;

  ~JpegDecode() {
    if (created) jpeg_destroy_decompress(&cinfo);
  }
};

JpegDecode& Owner(j_common_ptr cinfo) { return *static_cast<JpegDecode*>(cinfo->client_data); }

[[noreturn]] void ErrorExit(j_common_ptr cinfo) { std::longjmp(Owner(cinfo).jump, 1); }
void EmitMessage(j_common_ptr, int) {}
void OutputMessage(j_common_ptr) {}
void ResetErrorManager(j_common_ptr cinfo) {
  cinfo->err->num_warnings = 0;
  cinfo->err->msg_code = 0;
}

void ProgressMonitor(j_common_ptr cinfo) {
  auto dinfo = reinterpret_cast<j_decompress_ptr>(cinfo);
  if (dinfo->input_scan_number > kMaxScans) ERREXIT(cinfo, JERR_NOT_COMPILED);
}

// The stream read, with any exception parked for the caller: -1 when one was.
int ReadIntoBuffer(JpegDecode& d) noexcept {
  try {
    return d.read(d.source.buffer, kInputBufferSize, *d.stream);
  } catch (...) {
    d.pending = std::current_exception();
    return -1;
  }
}

void InitSource(j_decompress_ptr cinfo) {
  reinterpret_cast<JpegSource*>(cinfo->src)->startOfFile = true;
}

boolean FillInputBuffer(j_decompress_ptr cinfo) {
  auto* src = reinterpret_cast<JpegSource*>(cinfo->src);
  int n = ReadIntoBuffer(*src->owner);
  if (n < 0) ERREXIT(cinfo, JERR_FILE_READ);
  if (n == 0) {
    if (src->startOfFile) ERREXIT(cinfo, JERR_INPUT_EMPTY);
    // A cut-off file decodes as far as it goes: pretend the image ends here.
    WARNMS(cinfo, JWRN_JPEG_EOF);
    src->buffer[0] = 0xFF;
    src->buffer[1] = JPEG_EOI;
    n = 2;
  }
  src->pub.next_input_byte = src->buffer;
  src->pub.bytes_in_buffer = static_cast<size_t>(n);
  src->startOfFile = false;
  return TRUE;
}

void SkipInputData(j_decompress_ptr cinfo, long count) {
  if (count <= 0) return;
  jpeg_source_mgr* src = cinfo->src;
  while (count > static_cast<long>(src->bytes_in_buffer)) {
    count -= static_cast<long>(src->bytes_in_buffer);
    FillInputBuffer(cinfo);
  }
  src->next_input_byte += count;
  src->bytes_in_buffer -= static_cast<size_t>(count);
}

void TermSource(j_decompress_ptr) {}

// Result of the header phase.
enum class Header { kOk, kFailed, kUnsupported };

// Creates the decompressor and reads up to the picture size. No C++ object with a destructor lives
// between the setjmp and any jump back to it.
Header DecodeHeader(JpegDecode* d) {
  if (setjmp(d->jump) != 0) return Header::kFailed;
  jpeg_create_decompress(&d->cinfo);
  d->created = true;
  d->cinfo.mem->max_memory_to_use = kMaxLibjpegMemory;
  d->cinfo.progress = &d->progress;
  d->source.owner = d;
  d->source.pub.init_source = InitSource;
  d->source.pub.fill_input_buffer = FillInputBuffer;
  d->source.pub.skip_input_data = SkipInputData;
  d->source.pub.resync_to_restart = jpeg_resync_to_restart;
  d->source.pub.term_source = TermSource;
  d->source.pub.next_input_byte = nullptr;
  d->source.pub.bytes_in_buffer = 0;
  d->cinfo.src = &d->source.pub;
  if (jpeg_read_header(&d->cinfo, TRUE) != JPEG_HEADER_OK) return Header::kFailed;
  jpeg_calc_output_dimensions(&d->cinfo);
  int components = d->cinfo.output_components;
  if (components != 1 && components != 3) return Header::kUnsupported;
  int64_t bytes = int64_t{d->cinfo.output_width} * d->cinfo.output_height * components;
  if (d->cinfo.output_width == 0 || bytes > kMaxDecodedBytes) return Header::kUnsupported;
  return Header::kOk;
}

// Decodes every scanline into the pixmap's rows.
bool DecodeRows(JpegDecode* d, TPixmap* pixmap) {
  if (setjmp(d->jump) != 0) return false;
  jpeg_start_decompress(&d->cinfo);
  while (d->cinfo.output_scanline < d->cinfo.output_height) {
    JSAMPROW row = pixmap->PixelPtr(0, static_cast<int>(d->cinfo.output_scanline));
    jpeg_read_scanlines(&d->cinfo, &row, 1);
  }
  jpeg_finish_decompress(&d->cinfo);
  return true;
}

// Decodes a JPEG from the stream's current position into a new grey or RGB pixmap. The empty
// pointer for anything that is not a JPEG libjpeg can read with 1 or 3 output components; a
// stream's own exception is thrown on after libjpeg's structures are released.
Ref<TPixmap> DecodeJpegStream(TStream& stream, JpegReadFn read) {
  auto d = std::make_unique<JpegDecode>();
  d->stream = &stream;
  d->read = read;
  d->cinfo.err = jpeg_std_error(&d->err);
  d->err.error_exit = ErrorExit;
  d->err.emit_message = EmitMessage;
  d->err.output_message = OutputMessage;
  d->err.reset_error_mgr = ResetErrorManager;
  d->progress.progress_monitor = ProgressMonitor;
  d->cinfo.client_data = d.get();

  Header header = DecodeHeader(d.get());
  if (d->pending) std::rethrow_exception(d->pending);
  if (header != Header::kOk) return nullptr;
  int format = d->cinfo.output_components == 1 ? FormatGrey8 : FormatRGB888;
  Ref<TPixmap> pixmap = AllocatePixmap(static_cast<int>(d->cinfo.output_width),
                                       static_cast<int>(d->cinfo.output_height), format, 4);
  bool decoded = DecodeRows(d.get(), pixmap.Get());
  if (d->pending) std::rethrow_exception(d->pending);
  if (!decoded) return nullptr;
  return pixmap;
}

class TPixmapLoaderJPG : public TPixmapLoader {
 public:
  Ref<TPixmap> LoadPixmap(const Ref<TStream>& stream) override { return PixmapFromJpeg(stream); }
};

}  // namespace

Ref<TPixmap> PixmapFromJpeg(const Url& source) {
  Ref<TStream> stream = ReadableStreamFromUrl(source);
  if (!stream) return nullptr;
  StreamCloser closer(stream);
  return DecodeJpegStream(*stream, JpegReadCallback);
}

void InitJpegLoader() {
  static bool done = false;
  if (done) return;
  done = true;
  InitPixmapModule();
  TPixmapLoader::Register(MakeRef<TPixmapLoaderJPG>());
}

}  // namespace kiln
