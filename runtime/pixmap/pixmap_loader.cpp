// The loader registry and PixmapFromUrl.
#include "runtime/pixmap/pixmap_loader.h"

#include "runtime/stream/stream_closer.h"
#include "runtime/stream/stream_factory.h"

namespace kiln {

namespace {

Ref<TPixmapLoader>& LoaderHead() {
  static Ref<TPixmapLoader> head;
  return head;
}

}  // namespace

Ref<TPixmapLoader> TPixmapLoader::Register(const Ref<TPixmapLoader>& loader) {
  if (!loader) return loader;
  loader->_succ = LoaderHead();
  LoaderHead() = loader;
  return loader;
}

Ref<TPixmapLoader> PixmapLoaderHead() { return LoaderHead(); }

Ref<TPixmap> PixmapFromUrl(const Url& source) {
  Ref<TStream> stream = ReadableStreamFromUrl(source);
  if (!stream) return {};
  StreamCloser closer(stream);
  int64_t start = stream->Pos();
  if (start == -1) return {};
  for (Ref<TPixmapLoader> loader = LoaderHead(); loader; loader = loader->Succ()) {
    stream->Seek(start);
    Ref<TPixmap> pixmap;
    try {
      pixmap = loader->LoadPixmap(stream);
    } catch (const TStreamException&) {
      continue;
    }
    if (pixmap) return pixmap;
  }
  return {};
}

}  // namespace kiln
