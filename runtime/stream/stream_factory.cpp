#include "runtime/stream/stream_factory.h"

#include "runtime/stream/c_stream.h"

namespace kiln {
namespace {

Ref<TStreamFactory> streamFactoryHead;

}  // namespace

Ref<TStream> Url::AsStream() const { return RefCast<TStream>(object_); }

Ref<TStream> TStreamFactory::CreateStream(const Url&, const Text&, const Text&, int, int) {
  RaiseAbstractCall();
}

Ref<TStreamFactory> TStreamFactory::Register(const Ref<TStreamFactory>& factory) {
  factory->_succ = streamFactoryHead;
  streamFactoryHead = factory;
  return factory;
}

Ref<TStreamFactory> StreamFactoryHead() { return streamFactoryHead; }

Ref<TStream> StreamFromUrl(const Url& url, int readable, int writeable) {
  if (Ref<TStream> stream = url.AsStream()) return TStreamStream::Create(stream);
  const Text& text = url.AsText();
  Text protocol;
  Text path;
  if (!text.IsEmpty()) {
    int sep = text.Find("::");
    if (sep < 0) return TCStream::OpenFile(text, readable, writeable);
    protocol = text.Left(sep).ToLower();
    path = text.From(sep + 2);
  }
  for (Ref<TStreamFactory> f = streamFactoryHead; f; f = f->Succ()) {
    if (Ref<TStream> stream = f->CreateStream(url, protocol, path, readable, writeable)) return stream;
  }
  return nullptr;
}

Ref<TStream> ReadableStreamFromUrl(const Url& url) { return StreamFromUrl(url, 1, 0); }
Ref<TStream> WritableStreamFromUrl(const Url& url) { return StreamFromUrl(url, 0, 1); }

int CloseStreamObject(const Ref<TStream>& stream) {
  if (!stream) RaiseNullObject();
  stream->Close();
  return 0;
}

}  // namespace kiln
