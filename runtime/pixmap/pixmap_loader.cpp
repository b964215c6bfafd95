// The loader registry and PixmapFromUrl.
#include "runtime/pixmap/pixmap_loader.h"

#include "runtime/core/registry.h"
#include "runtime/stream/stream_closer.h"
#include "runtime/stream/stream_factory.h"

namespace kiln {
namespace {

Registry<TPixmapLoader, &TPixmapLoader::_succ> pixmapLoaderHead;

}  // namespace

Ref<TPixmapLoader> TPixmapLoader::Register(const Ref<TPixmapLoader>& loader) {
  if (loader) pixmapLoaderHead.PushFront(loader);
  return loader;
}

Ref<TPixmapLoader> PixmapLoaderHead() { return pixmapLoaderHead.Head(); }

Ref<TPixmap> PixmapFromUrl(const Url& source) {
  Ref<TStream> stream = ReadableStreamFromUrl(source);
  if (!stream) return nullptr;
  StreamCloser closer(stream);
  int64_t start = stream->Pos();
  if (start == -1) return nullptr;
  return pixmapLoaderHead.FirstAnswer([&](TPixmapLoader& loader) -> Ref<TPixmap> {
    stream->Seek(start);
    try {
      return loader.LoadPixmap(stream);
    } catch (const TStreamException&) {
      return nullptr;
    }
  });
}

}  // namespace kiln
