// JPEG pictures through libjpeg: the loader decodes from a runtime stream straight into a pixmap,
// and SavePixmapAsJpeg encodes a pixmap into one. The only file that talks to libjpeg.
//
// libjpeg reports fatal errors through the error manager, which must not return. Ours jumps back to
// the setjmp in DecodeHeader, DecodeRows or EncodeRows; everything between that setjmp and the jump
// is libjpeg or our source and destination managers, and none of those frames holds an object with a
// destructor. An exception thrown by the stream is caught in the manager, parked in the error state,
// turned into a libjpeg fatal error, and thrown again once libjpeg's structures are released.
#include <algorithm>
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

#include "runtime/pixmap/internal/loader_support.h"
#include "runtime/pixmap/pixmap_loaders.h"
#include "runtime/stream/stream_closer.h"
#include "runtime/stream/stream_factory.h"

namespace kiln {

namespace {

constexpr int kInputBufferSize = 4096;
constexpr int kOutputBufferSize = 4096;
// Pictures whose decoded rows need more bytes than this are refused before any pixel memory is taken.
constexpr int64_t kMaxDecodedBytes = int64_t{256} << 20;
// Ceiling for libjpeg's own working memory (progressive pictures keep all coefficients).
constexpr long kMaxLibjpegMemory = 768L << 20;
// Progressive pictures with more scans than this are refused: each scan walks every coefficient, so
// a small crafted file could otherwise keep the decoder busy for minutes.
constexpr int kMaxScans = 1000;
// The same walk bounded by the file's size: the blocks all scans visit together may not exceed
// kScanWorkFloor plus kScanWorkPerByte for every byte of the file. A real photograph codes each
// block in at least a few bits and visits it in about ten scans, so it stays below even at the
// 256 MiB size cap; a 15 KB file with hundreds of empty scans over a huge frame does not. At about
// 5 ns per block visit the floor is some 0.15 s of work.
constexpr int64_t kScanWorkFloor = int64_t{32} << 20;
constexpr int64_t kScanWorkPerByte = 64;
// A Huffman-coded picture spends at least one bit of its file on every block of its frame (the code
// of the block's DC difference); an arithmetic-coded one a fraction of a bit on a flat area. A file
// too small for its frame is refused after its header, before libjpeg takes the frame's memory
// (a progressive picture keeps 128 bytes a block).
constexpr int64_t kHuffmanBlocksPerByte = 8;
constexpr int64_t kArithmeticBlocksPerByte = 64;

// The silent error manager of one decode or encode: fatal errors jump back to `jump`, warnings and
// messages are dropped. The coder's client_data points here.
struct JpegErrors {
  jpeg_error_mgr mgr{};
  std::jmp_buf jump{};
  // A stream exception met inside libjpeg, thrown on after its structures are released.
  std::exception_ptr pending;
};

JpegErrors& Errors(j_common_ptr cinfo) { return *static_cast<JpegErrors*>(cinfo->client_data); }

[[noreturn]] void ErrorExit(j_common_ptr cinfo) { std::longjmp(Errors(cinfo).jump, 1); }
void EmitMessage(j_common_ptr, int) {}
void OutputMessage(j_common_ptr) {}
void ResetErrorManager(j_common_ptr cinfo) {
  cinfo->err->num_warnings = 0;
  cinfo->err->msg_code = 0;
}

// Points the coder at `errors`; runs before jpeg_create_*, which keeps both fields.
template <class Coder>
void InstallSilentErrors(Coder& cinfo, JpegErrors& errors) {
  cinfo.err = jpeg_std_error(&errors.mgr);
  errors.mgr.error_exit = ErrorExit;
  errors.mgr.emit_message = EmitMessage;
  errors.mgr.output_message = OutputMessage;
  errors.mgr.reset_error_mgr = ResetErrorManager;
  cinfo.client_data = &errors;
}

// ---- Decoding

struct JpegDecode;

struct JpegSource {
  jpeg_source_mgr pub;
  JpegDecode* owner;
  bool startOfFile;
  JOCTET buffer[kInputBufferSize];
};

// The work the scans have cost so far, against the file's allowance.
struct JpegProgress {
  jpeg_progress_mgr pub;
  JpegDecode* owner;
  int countedScans;
  int64_t blockVisits;
};

// Everything one decode needs, owned by one object so that every exit releases libjpeg's structures.
struct JpegDecode {
  jpeg_decompress_struct cinfo{};
  JpegErrors errors;
  JpegProgress progress{};
  JpegSource source{};
  TStream* stream = nullptr;
  // The stream's length from the start position when it tells one, and the bytes read so far.
  int64_t fileBytes = 0;
  int64_t bytesRead = 0;
  bool created = false;

  ~JpegDecode() {
    if (created) jpeg_destroy_decompress(&cinfo);
  }
};

// Runs between the pieces of input libjpeg consumes; a new scan's header has been read when the scan
// number moves on, and its components are then known.
void ProgressMonitor(j_common_ptr cinfo) {
  auto dinfo = reinterpret_cast<j_decompress_ptr>(cinfo);
  if (dinfo->input_scan_number > kMaxScans) ERREXIT(cinfo, JERR_NOT_COMPILED);
  auto* progress = reinterpret_cast<JpegProgress*>(cinfo->progress);
  if (dinfo->input_scan_number <= progress->countedScans) return;
  progress->countedScans = dinfo->input_scan_number;
  for (int i = 0; i < dinfo->comps_in_scan && i < MAX_COMPS_IN_SCAN; ++i) {
    const jpeg_component_info* component = dinfo->cur_comp_info[i];
    if (component != nullptr) {
      progress->blockVisits += int64_t{component->width_in_blocks} * component->height_in_blocks;
    }
  }
  const JpegDecode& d = *progress->owner;
  int64_t allowance = kScanWorkFloor + kScanWorkPerByte * std::max(d.fileBytes, d.bytesRead);
  if (progress->blockVisits > allowance) ERREXIT(cinfo, JERR_NOT_COMPILED);
}

void InitSource(j_decompress_ptr cinfo) {
  reinterpret_cast<JpegSource*>(cinfo->src)->startOfFile = true;
}

boolean FillInputBuffer(j_decompress_ptr cinfo) {
  auto* src = reinterpret_cast<JpegSource*>(cinfo->src);
  JpegDecode& d = *src->owner;
  int n = -1;
  if (!KeepException(d.errors.pending, [&] { n = d.stream->Read(src->buffer, kInputBufferSize); }) || n < 0)
    ERREXIT(cinfo, JERR_FILE_READ);
  d.bytesRead += n;
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
  if (setjmp(d->errors.jump) != 0) return Header::kFailed;
  jpeg_create_decompress(&d->cinfo);
  d->created = true;
  d->cinfo.mem->max_memory_to_use = kMaxLibjpegMemory;
  d->progress.owner = d;
  d->cinfo.progress = &d->progress.pub;
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
  int64_t blocks = 0;
  for (int i = 0; i < d->cinfo.num_components; ++i) {
    const jpeg_component_info& component = d->cinfo.comp_info[i];
    blocks += int64_t{component.width_in_blocks} * component.height_in_blocks;
  }
  const int64_t blocksPerByte = d->cinfo.arith_code ? kArithmeticBlocksPerByte : kHuffmanBlocksPerByte;
  if (d->fileBytes > 0 && blocks > blocksPerByte * d->fileBytes) return Header::kUnsupported;
  return Header::kOk;
}

// Decodes every scanline into the pixmap's rows.
bool DecodeRows(JpegDecode* d, TPixmap* pixmap) {
  if (setjmp(d->errors.jump) != 0) return false;
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
Ref<TPixmap> DecodeJpegStream(TStream& stream) {
  auto d = std::make_unique<JpegDecode>();
  d->stream = &stream;
  InstallSilentErrors(d->cinfo, d->errors);
  d->progress.pub.progress_monitor = ProgressMonitor;
  int64_t size = stream.Size();
  int64_t pos = stream.Pos();
  if (size > 0 && pos >= 0 && pos < size) d->fileBytes = size - pos;

  Header header = DecodeHeader(d.get());
  if (d->errors.pending) std::rethrow_exception(d->errors.pending);
  if (header != Header::kOk) return nullptr;
  int format = d->cinfo.output_components == 1 ? FormatGrey8 : FormatRGB888;
  Ref<TPixmap> pixmap = AllocatePixmap(static_cast<int>(d->cinfo.output_width),
                                       static_cast<int>(d->cinfo.output_height), format, 4);
  bool decoded = DecodeRows(d.get(), pixmap.Get());
  if (d->errors.pending) std::rethrow_exception(d->errors.pending);
  if (!decoded) return nullptr;
  return pixmap;
}

class TPixmapLoaderJPG : public TPixmapLoader {
 public:
  Ref<TPixmap> LoadPixmap(const Ref<TStream>& stream) override { return PixmapFromJpeg(stream); }
};

// ---- Encoding

struct JpegEncode;

struct JpegDestination {
  jpeg_destination_mgr pub;
  JpegEncode* owner;
  JOCTET buffer[kOutputBufferSize];
};

struct JpegEncode {
  jpeg_compress_struct cinfo{};
  JpegErrors errors;
  JpegDestination destination{};
  TStream* stream = nullptr;
  bool created = false;

  ~JpegEncode() {
    if (created) jpeg_destroy_compress(&cinfo);
  }
};

// Writes the first `count` bytes of the buffer; a short write or a stream exception is fatal.
void WriteOut(j_compress_ptr cinfo, int count) {
  auto* dest = reinterpret_cast<JpegDestination*>(cinfo->dest);
  JpegEncode& e = *dest->owner;
  int written = -1;
  if (!KeepException(e.errors.pending, [&] { written = e.stream->Write(dest->buffer, count); }) ||
      written != count)
    ERREXIT(cinfo, JERR_FILE_WRITE);
}

void InitDestination(j_compress_ptr cinfo) {
  cinfo->dest->next_output_byte = reinterpret_cast<JpegDestination*>(cinfo->dest)->buffer;
  cinfo->dest->free_in_buffer = kOutputBufferSize;
}

boolean EmptyOutputBuffer(j_compress_ptr cinfo) {
  WriteOut(cinfo, kOutputBufferSize);
  InitDestination(cinfo);
  return TRUE;
}

void TermDestination(j_compress_ptr cinfo) {
  int count = kOutputBufferSize - static_cast<int>(cinfo->dest->free_in_buffer);
  if (count > 0) WriteOut(cinfo, count);
}

// Compresses the rows; false on a libjpeg error. No C++ object with a destructor lives between the
// setjmp and any jump back to it.
bool EncodeRows(JpegEncode* e, int width, int height, int pitch, const uint8_t* pixels, int quality) {
  if (setjmp(e->errors.jump) != 0) return false;
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
int EncodeJpegStream(TStream& stream, int width, int height, int pitch, const uint8_t* pixels, int quality) {
  auto e = std::make_unique<JpegEncode>();
  e->stream = &stream;
  InstallSilentErrors(e->cinfo, e->errors);
  bool encoded = EncodeRows(e.get(), width, height, pitch, pixels, quality);
  if (e->errors.pending) std::rethrow_exception(e->errors.pending);
  return encoded ? 0 : 1;
}

}  // namespace

Ref<TPixmap> PixmapFromJpeg(const Url& source) {
  Ref<TStream> stream = ReadableStreamFromUrl(source);
  if (!stream) return nullptr;
  StreamCloser closer(stream);
  return DecodeJpegStream(*stream);
}

int SavePixmapAsJpeg(const Ref<TPixmap>& pixmap, const Url& url, int quality) {
  if (!pixmap) RaiseNullObject();
  return SaveToUrl(url, [&](TStream& stream) {
    Ref<TPixmap> rgb = pixmap->Convert(FormatRGB888);
    return EncodeJpegStream(stream, rgb->width, rgb->height, rgb->pitch, rgb->PixelPtr(0, 0), quality) == 0;
  });
}

void InitJpegLoader() { RegisterLoaderOnce<TPixmapLoaderJPG>(); }

}  // namespace kiln
