#include "runtime/stream/stream.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace kiln {

void RaiseStreamRead() { throw TStreamReadException(); }
void RaiseStreamWrite() { throw TStreamWriteException(); }

bool TIO::Eof() { return Pos() == Size(); }
int64_t TIO::Pos() { return -1; }
int64_t TIO::Size() { return 0; }
int64_t TIO::Seek(int64_t) { return -1; }
int TIO::Flush() { return 0; }
int TIO::Close() { return 0; }
int TIO::Read(void*, int) { RaiseRuntimeError("Stream is not readable"); }
int TIO::Write(const void*, int) { RaiseRuntimeError("Stream is not writeable"); }

int TStream::ReadBytes(void* buf, int count) {
  auto* p = static_cast<unsigned char*>(buf);
  int left = count;
  while (left > 0) {
    int n = Read(p, left);
    if (n <= 0) RaiseStreamRead();
    p += n;
    left -= n;
  }
  return count;
}

int TStream::WriteBytes(const void* buf, int count) {
  const auto* p = static_cast<const unsigned char*>(buf);
  int left = count;
  while (left > 0) {
    int n = Write(p, left);
    if (n <= 0) RaiseStreamWrite();
    p += n;
    left -= n;
  }
  return count;
}

int TStream::SkipBytes(int count) {
  unsigned char scratch[1024];
  int left = count;
  while (left > 0) {
    int n = Read(scratch, left < 1024 ? left : 1024);
    if (n <= 0) RaiseStreamRead();
    left -= n;
  }
  return count;
}

namespace {

template <class T>
T ReadValue(TStream& s) {
  T value;
  s.ReadBytes(&value, sizeof value);
  return value;
}

template <class T>
void WriteValue(TStream& s, T value) {
  s.WriteBytes(&value, sizeof value);
}

}  // namespace

int TStream::ReadByte() { return ReadValue<uint8_t>(*this); }
void TStream::WriteByte(int value) { WriteValue<uint8_t>(*this, static_cast<uint8_t>(value)); }
int TStream::ReadShort() { return ReadValue<uint16_t>(*this); }
void TStream::WriteShort(int value) { WriteValue<uint16_t>(*this, static_cast<uint16_t>(value)); }
int32_t TStream::ReadInt() { return ReadValue<int32_t>(*this); }
void TStream::WriteInt(int32_t value) { WriteValue(*this, value); }
int64_t TStream::ReadLong() { return ReadValue<int64_t>(*this); }
void TStream::WriteLong(int64_t value) { WriteValue(*this, value); }
float TStream::ReadFloat() { return ReadValue<float>(*this); }
void TStream::WriteFloat(float value) { WriteValue(*this, value); }
double TStream::ReadDouble() { return ReadValue<double>(*this); }
void TStream::WriteDouble(double value) { WriteValue(*this, value); }

Text TStream::ReadLine() {
  std::string bytes;
  bytes.reserve(1024);
  for (;;) {
    unsigned char c = 0;
    if (Read(&c, 1) != 1 || c == 0 || c == 10) break;
    if (c != 13) bytes.push_back(static_cast<char>(c));
  }
  return Text::FromLatin1(bytes);
}

int TStream::WriteLine(const Text& line) {
  std::string bytes = line.ToLatin1();
  int n = bytes.empty() ? 0 : Write(bytes.data(), static_cast<int>(bytes.size()));
  if (n != static_cast<int>(bytes.size())) return 0;
  static const char kCrLf[2] = {13, 10};
  return Write(kCrLf, 2) == 2 ? 1 : 0;
}

Text TStream::ReadString(int count) {
  if (count <= 0) return Text();
  // The buffer grows with the bytes that really arrive: a wrong count on a short stream fails at its
  // end instead of asking for up to 2 GiB first.
  constexpr int kChunk = 65536;
  std::string bytes;
  while (static_cast<int>(bytes.size()) < count) {
    const int used = static_cast<int>(bytes.size());
    const int n = std::min(kChunk, count - used);
    bytes.resize(static_cast<size_t>(used + n));
    ReadBytes(bytes.data() + used, n);
  }
  return Text::FromLatin1(bytes);
}

void TStream::WriteString(const Text& text) {
  std::string bytes = text.ToLatin1();
  WriteBytes(bytes.data(), static_cast<int>(bytes.size()));
}

Ref<TObject> TStream::ReadObject() { RaiseText("Unable to read object"); }
void TStream::WriteObject(const Ref<TObject>&) { RaiseText("Unable to write object"); }

TStream& TStreamWrapper::Inner() {
  if (!_stream) RaiseNullObject();
  return *_stream;
}

bool TStreamWrapper::Eof() { return Inner().Eof(); }
int64_t TStreamWrapper::Pos() { return Inner().Pos(); }
int64_t TStreamWrapper::Size() { return Inner().Size(); }
int64_t TStreamWrapper::Seek(int64_t pos) { return Inner().Seek(pos); }
int TStreamWrapper::Flush() { return Inner().Flush(); }
int TStreamWrapper::Close() { return Inner().Close(); }
int TStreamWrapper::Read(void* buf, int count) { return Inner().Read(buf, count); }
int TStreamWrapper::Write(const void* buf, int count) { return Inner().Write(buf, count); }
int TStreamWrapper::ReadByte() { return Inner().ReadByte(); }
void TStreamWrapper::WriteByte(int value) { Inner().WriteByte(value); }
int TStreamWrapper::ReadShort() { return Inner().ReadShort(); }
void TStreamWrapper::WriteShort(int value) { Inner().WriteShort(value); }
int32_t TStreamWrapper::ReadInt() { return Inner().ReadInt(); }
void TStreamWrapper::WriteInt(int32_t value) { Inner().WriteInt(value); }
float TStreamWrapper::ReadFloat() { return Inner().ReadFloat(); }
void TStreamWrapper::WriteFloat(float value) { Inner().WriteFloat(value); }
double TStreamWrapper::ReadDouble() { return Inner().ReadDouble(); }
void TStreamWrapper::WriteDouble(double value) { Inner().WriteDouble(value); }
Text TStreamWrapper::ReadLine() { return Inner().ReadLine(); }
int TStreamWrapper::WriteLine(const Text& line) { return Inner().WriteLine(line); }
Text TStreamWrapper::ReadString(int count) { return Inner().ReadString(count); }
void TStreamWrapper::WriteString(const Text& text) { Inner().WriteString(text); }
Ref<TObject> TStreamWrapper::ReadObject() { return Inner().ReadObject(); }
void TStreamWrapper::WriteObject(const Ref<TObject>& object) { Inner().WriteObject(object); }

Ref<TStreamStream> TStreamStream::Create(const Ref<TStream>& stream) {
  auto wrapper = MakeRef<TStreamStream>();
  wrapper->SetStream(stream);
  return wrapper;
}

int TStreamStream::Close() {
  SetStream(nullptr);
  return 0;
}

int TransferStream(const Ref<TStream>& source, const Ref<TStream>& destination, int bufferSize) {
  if (!source || !destination) RaiseNullObject();
  if (bufferSize <= 0) bufferSize = 4096;
  std::vector<unsigned char> buffer(static_cast<size_t>(bufferSize));
  while (!source->Eof()) {
    int n = source->Read(buffer.data(), bufferSize);
    if (n <= 0) {
      // A read that found the end (a pipe only knows it then) ends the copy; anything else is stuck.
      if (source->Eof()) break;
      RaiseStreamRead();
    }
    destination->WriteBytes(buffer.data(), n);
  }
  return 0;
}

}  // namespace kiln
