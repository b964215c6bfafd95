#include "runtime/stream/endian_stream.h"

#include <algorithm>
#include <cstring>

namespace kiln {
namespace {

template <class T>
T ReadSwapped(TStream& s) {
  unsigned char bytes[sizeof(T)];
  s.ReadBytes(bytes, sizeof bytes);
  std::reverse(bytes, bytes + sizeof bytes);
  T value;
  std::memcpy(&value, bytes, sizeof value);
  return value;
}

template <class T>
void WriteSwapped(TStream& s, T value) {
  unsigned char bytes[sizeof(T)];
  std::memcpy(bytes, &value, sizeof bytes);
  std::reverse(bytes, bytes + sizeof bytes);
  s.WriteBytes(bytes, sizeof bytes);
}

}  // namespace

Ref<TXEndianStream> TXEndianStream::Create(const Ref<TStream>& stream) {
  auto wrapper = MakeRef<TXEndianStream>();
  wrapper->SetStream(stream);
  return wrapper;
}

Ref<TStream> TXEndianStream::BigEndian(const Ref<TStream>& stream) { return Create(stream); }
Ref<TStream> TXEndianStream::LittleEndian(const Ref<TStream>& stream) { return stream; }

void TXEndianStream::Swap2(void* p) { std::reverse(static_cast<unsigned char*>(p), static_cast<unsigned char*>(p) + 2); }
void TXEndianStream::Swap4(void* p) { std::reverse(static_cast<unsigned char*>(p), static_cast<unsigned char*>(p) + 4); }
void TXEndianStream::Swap8(void* p) { std::reverse(static_cast<unsigned char*>(p), static_cast<unsigned char*>(p) + 8); }

// Reads go through ReadBytes on this wrapper, which runs the forwarded Read.
int TXEndianStream::ReadShort() { return ReadSwapped<uint16_t>(*this); }
void TXEndianStream::WriteShort(int value) { WriteSwapped<uint16_t>(*this, static_cast<uint16_t>(value)); }
int32_t TXEndianStream::ReadInt() { return ReadSwapped<int32_t>(*this); }
void TXEndianStream::WriteInt(int32_t value) { WriteSwapped(*this, value); }
int64_t TXEndianStream::ReadLong() { return ReadSwapped<int64_t>(*this); }
void TXEndianStream::WriteLong(int64_t value) { WriteSwapped(*this, value); }
float TXEndianStream::ReadFloat() { return ReadSwapped<float>(*this); }
void TXEndianStream::WriteFloat(float value) { WriteSwapped(*this, value); }
double TXEndianStream::ReadDouble() { return ReadSwapped<double>(*this); }
void TXEndianStream::WriteDouble(double value) { WriteSwapped(*this, value); }

Ref<TStream> TXEndianStreamFactory::CreateStream(const Url&, const Text& protocol, const Text& path, int readable,
                                                 int writeable) {
  const bool big = protocol == Text("bigendian");
  if (!big && protocol != Text("littleendian")) return nullptr;
  Ref<TStream> inner = StreamFromUrl(path, readable, writeable);
  if (!inner) return nullptr;
  return big ? TXEndianStream::BigEndian(inner) : TXEndianStream::LittleEndian(inner);
}

}  // namespace kiln
