// The pixmap loader registry: an ordered list of picture decoders and PixmapFromUrl, which lets each
// decoder try a source in turn.
#pragma once

#include "runtime/pixmap/pixmap.h"
#include "runtime/stream/stream.h"
#include "runtime/stream/url.h"

namespace kiln {

class TPixmapLoader : public TObject {
 public:
  // Reads from the stream's current position; the empty pointer when the data is not this loader's
  // format. May read any amount before declining, and may let a stream exception escape on a short read.
  virtual Ref<TPixmap> LoadPixmap(const Ref<TStream>& stream) = 0;

  // Links `loader` in front of the list and returns it: the loader registered last is tried first.
  // Each loader module registers its one loader from its initialiser, e.g.
  //   TPixmapLoader::Register(MakeRef<TPixmapLoaderPNG>());
  static Ref<TPixmapLoader> Register(const Ref<TPixmapLoader>& loader);
  const Ref<TPixmapLoader>& Succ() const { return _succ; }

  // The next loader of the list; set by Register.
  Ref<TPixmapLoader> _succ;
};

// The first loader tried (the empty pointer while none is registered).
Ref<TPixmapLoader> PixmapLoaderHead();

// Opens the source readable and offers it to each loader, every time from the same start position. A
// stream exception inside a loader counts as its refusal; other exceptions propagate. The empty
// pointer when the source cannot be opened, cannot report its position, or no loader accepts it.
Ref<TPixmap> PixmapFromUrl(const Url& source);

}  // namespace kiln
