// Byte-order swapping over another stream, and the "bigendian"/"littleendian" protocols.
#pragma once

#include "runtime/stream/stream_factory.h"

namespace kiln {

// Its 2-, 4- and 8-byte typed reads and writes reverse the byte order.
class TXEndianStream : public TStreamWrapper {
 public:
  static Ref<TXEndianStream> Create(const Ref<TStream>& stream);
  // Wraps the stream (the host is little-endian).
  static Ref<TStream> BigEndian(const Ref<TStream>& stream);
  // The stream itself.
  static Ref<TStream> LittleEndian(const Ref<TStream>& stream);

  static void Swap2(void* p);
  static void Swap4(void* p);
  static void Swap8(void* p);

  int ReadShort() override;
  void WriteShort(int value) override;
  int32_t ReadInt() override;
  void WriteInt(int32_t value) override;
  int64_t ReadLong() override;
  void WriteLong(int64_t value) override;
  float ReadFloat() override;
  void WriteFloat(float value) override;
  double ReadDouble() override;
  void WriteDouble(double value) override;
};

// Opens its path again through StreamFromUrl; a failed inner open gives the empty pointer.
class TXEndianStreamFactory : public TStreamFactory {
 public:
  Ref<TStream> CreateStream(const Url& url, const Text& protocol, const Text& path, int readable,
                            int writeable) override;
};

}  // namespace kiln
