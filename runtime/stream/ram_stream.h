// A stream over a caller-owned memory block, and the "incbin" protocol over embedded resources.
#pragma once

#include "runtime/stream/stream_factory.h"

namespace kiln {

// Never owns or frees the block, and never grows it.
class TRamStream : public TStream {
 public:
  static Ref<TRamStream> Create(void* block, int64_t size, int readable, int writeable);
  static Ref<TRamStream> Create(const void* block, int64_t size);  // read-only

  int64_t Pos() override { return _pos; }
  int64_t Size() override { return _size; }
  // Clamped to 0..Size().
  int64_t Seek(int64_t pos) override;
  int Read(void* buf, int count) override;
  int Write(const void* buf, int count) override;

 protected:
  // Points the stream at a block, at offset 0.
  void Attach(void* block, int64_t size, int readable, int writeable);

 private:
  int64_t _pos = 0;
  int64_t _size = 0;
  unsigned char* _buf = nullptr;
  int _read = 0;
  int _write = 0;
};

Ref<TRamStream> StreamOverMemory(void* block, int64_t size, int readable, int writeable);

// Answers "incbin::<name>" opened read-only with a memory stream over the registered block.
class TRamStreamFactory : public TStreamFactory {
 public:
  Ref<TStream> CreateStream(const Url& url, const Text& protocol, const Text& path, int readable,
                            int writeable) override;
};

}  // namespace kiln
