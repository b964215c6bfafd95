// Byte streams: the abstract stream, its typed reads and writes, wrappers, and the exceptions.
#pragma once

#include <cstdint>

#include "runtime/core/exceptions.h"
#include "runtime/core/object.h"

namespace kiln {

class TStreamException : public TKilnException {};

class TStreamReadException : public TStreamException {
 public:
  Text ToString() const override { return "Error reading from stream"; }
};

class TStreamWriteException : public TStreamException {
 public:
  Text ToString() const override { return "Error writing to stream"; }
};

[[noreturn]] void RaiseStreamRead();
[[noreturn]] void RaiseStreamWrite();

// Raw input/output. The base is neither seekable nor readable nor writeable.
class TIO : public TObject {
 public:
  virtual bool Eof();
  // -1 when the stream cannot seek.
  virtual int64_t Pos();
  virtual int64_t Size();
  virtual int64_t Seek(int64_t pos);
  virtual int Flush();
  virtual int Close();
  // Both return the number of bytes moved; 0 means nothing could be read or stored.
  virtual int Read(void* buf, int count);
  virtual int Write(const void* buf, int count);
};

class TStream : public TIO {
 public:
  // Loop until `count` bytes moved; a Read/Write of 0 throws the stream read/write exception.
  virtual int ReadBytes(void* buf, int count);
  virtual int WriteBytes(const void* buf, int count);
  virtual int SkipBytes(int count);

  // Host (little-endian) byte order; ReadByte and ReadShort are zero-extended.
  virtual int ReadByte();
  virtual void WriteByte(int value);
  virtual int ReadShort();
  virtual void WriteShort(int value);
  virtual int32_t ReadInt();
  virtual void WriteInt(int32_t value);
  virtual int64_t ReadLong();
  virtual void WriteLong(int64_t value);
  virtual float ReadFloat();
  virtual void WriteFloat(float value);
  virtual double ReadDouble();
  virtual void WriteDouble(double value);

  // One byte per code unit; stops at end, byte 0 or line feed; carriage returns are dropped.
  virtual Text ReadLine();
  // The text's low bytes, then CR LF; 1 only if everything was written. Never throws.
  virtual int WriteLine(const Text& line);
  virtual Text ReadString(int count);
  virtual void WriteString(const Text& text);
  virtual Ref<TObject> ReadObject();
  virtual void WriteObject(const Ref<TObject>& object);
};

// Forwards every operation to the wrapped stream.
class TStreamWrapper : public TStream {
 public:
  void SetStream(const Ref<TStream>& stream) { _stream = stream; }
  const Ref<TStream>& Stream() const { return _stream; }

  bool Eof() override;
  int64_t Pos() override;
  int64_t Size() override;
  int64_t Seek(int64_t pos) override;
  int Flush() override;
  int Close() override;
  int Read(void* buf, int count) override;
  int Write(const void* buf, int count) override;
  int ReadByte() override;
  void WriteByte(int value) override;
  int ReadShort() override;
  void WriteShort(int value) override;
  int32_t ReadInt() override;
  void WriteInt(int32_t value) override;
  float ReadFloat() override;
  void WriteFloat(float value) override;
  double ReadDouble() override;
  void WriteDouble(double value) override;
  Text ReadLine() override;
  int WriteLine(const Text& line) override;
  Text ReadString(int count) override;
  void WriteString(const Text& text) override;
  Ref<TObject> ReadObject() override;
  void WriteObject(const Ref<TObject>& object) override;

 protected:
  // The wrapped stream, or throws the null-object exception when there is none.
  TStream& Inner();
  Ref<TStream> _stream;
};

// A wrapper whose Close detaches instead of closing the wrapped stream.
class TStreamStream : public TStreamWrapper {
 public:
  static Ref<TStreamStream> Create(const Ref<TStream>& stream);
  int Close() override;
};

// Copies until the source reports its end, through one buffer of `bufferSize` bytes. A source that
// reads nothing before its end throws the stream read exception instead of looping forever.
int TransferStream(const Ref<TStream>& source, const Ref<TStream>& destination, int bufferSize);

}  // namespace kiln
