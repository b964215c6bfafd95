// Opening streams by URL through the list of protocol factories.
#pragma once

#include "runtime/stream/stream.h"
#include "runtime/stream/url.h"

namespace kiln {

// A protocol handler. Creating a factory links it in front of the factory list, so the newest
// factory is asked first; factories live until the process ends.
class TStreamFactory : public TObject {
 public:
  // A stream for the URL, or the empty pointer so that the next factory is asked.
  virtual Ref<TStream> CreateStream(const Url& url, const Text& protocol, const Text& path, int readable,
                                    int writeable);
  // Adopts `factory` into the list (push-front) and returns it.
  static Ref<TStreamFactory> Register(const Ref<TStreamFactory>& factory);
  const Ref<TStreamFactory>& Succ() const { return _succ; }

  // The next factory of the list; set by Register.
  Ref<TStreamFactory> _succ;
};

// A stream object gives a wrapper whose Close leaves it open; a text without "::" opens a file; any
// other text goes to the factories with its protocol lowered. The empty pointer when nothing answers.
Ref<TStream> StreamFromUrl(const Url& url, int readable, int writeable);
Ref<TStream> ReadableStreamFromUrl(const Url& url);
Ref<TStream> WritableStreamFromUrl(const Url& url);
int CloseStreamObject(const Ref<TStream>& stream);

// The head of the factory list (newest first).
Ref<TStreamFactory> StreamFactoryHead();

}  // namespace kiln
