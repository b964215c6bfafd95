#include "runtime/stream/stream_factory.h"

#include "runtime/core/registry.h"
#include "runtime/stream/c_stream.h"

namespace kiln {
namespace {

Registry<TStreamFactory, &TStreamFactory::_succ> streamFactoryHead;

}  // namespace

Ref<TStream> Url::AsStream() const { return RefCast<TStream>(object_); }

Ref<TStream> TStreamFactory::CreateStream(const Url&, const Text&, const Text&, int, int) {
  RaiseAbstractCall();
}

Ref<TStreamFactory> TStreamFactory::Register(const Ref<TStreamFactory>& factory) {
  streamFactoryHead.PushFront(factory);
  return factory;
}

Ref<TStreamFactory> StreamFactoryHead() { return streamFactoryHead.Head(); }

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
  return streamFactoryHead.FirstAnswer([&](TStreamFactory& factory) {
    return factory.CreateStream(url, protocol, path, readable, writeable);
  });
}

Ref<TStream> ReadableStreamFromUrl(const Url& url) { return StreamFromUrl(url, 1, 0); }
Ref<TStream> WritableStreamFromUrl(const Url& url) { return StreamFromUrl(url, 0, 1); }

int CloseStreamObject(const Ref<TStream>& stream) {
  if (!stream) RaiseNullObject();
  stream->Close();
  return 0;
}

}  // namespace kiln
