// Pieces shared by the picture format modules.
#include "runtime/pixmap/internal/loader_support.h"

#include "runtime/stream/stream_factory.h"

namespace kiln {

int ReadUpTo(TStream& stream, uint8_t* buffer, int count) {
  int got = 0;
  while (got < count) {
    int n = stream.Read(buffer + got, count - got);
    if (n <= 0) break;
    got += n;
  }
  return got;
}

int SaveToUrl(const Url& url, const std::function<bool(TStream&)>& encode) {
  Ref<TStream> stream = WritableStreamFromUrl(url);
  if (!stream) return 0;
  bool saved = false;
  try {
    saved = encode(*stream);
  } catch (const TStreamException&) {
  } catch (...) {
    try {
      stream->Close();
    } catch (const TStreamException&) {
    }
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
