#include "runtime/stream/stream_functions.h"

#include <algorithm>

namespace kiln {
namespace {

TStream& Use(const Ref<TStream>& s) {
  if (!s) RaiseNullObject();
  return *s;
}

Ref<TStream> OpenForLoad(const Url& url) {
  Ref<TStream> s = ReadableStreamFromUrl(url);
  if (!s) RaiseStreamRead();
  return s;
}

Ref<TStream> OpenForSave(const Url& url) {
  Ref<TStream> s = WritableStreamFromUrl(url);
  if (!s) RaiseStreamWrite();
  return s;
}

// Reads to the end; a stream that cannot tell its size is read in chunks until a read returns 0.
std::vector<unsigned char> ReadAll(TStream& s) {
  std::vector<unsigned char> bytes;
  unsigned char chunk[4096];
  for (;;) {
    int n = s.Read(chunk, sizeof chunk);
    if (n <= 0) break;
    bytes.insert(bytes.end(), chunk, chunk + n);
  }
  return bytes;
}

}  // namespace

bool StreamEof(const Ref<TStream>& s) { return Use(s).Eof(); }
int64_t StreamPos(const Ref<TStream>& s) { return Use(s).Pos(); }
int64_t StreamSize(const Ref<TStream>& s) { return Use(s).Size(); }
int64_t SeekStream(const Ref<TStream>& s, int64_t pos) { return Use(s).Seek(pos); }
int FlushStream(const Ref<TStream>& s) { return Use(s).Flush(); }
int CloseStream(const Ref<TStream>& s) { return Use(s).Close(); }
int ReadStreamBytes(const Ref<TStream>& s, void* buf, int count) { return Use(s).ReadBytes(buf, count); }
int WriteStreamBytes(const Ref<TStream>& s, const void* buf, int count) { return Use(s).WriteBytes(buf, count); }
int SkipStreamBytes(const Ref<TStream>& s, int count) { return Use(s).SkipBytes(count); }
int ReadByte(const Ref<TStream>& s) { return Use(s).ReadByte(); }
void WriteByte(const Ref<TStream>& s, int value) { Use(s).WriteByte(value); }
int ReadShort(const Ref<TStream>& s) { return Use(s).ReadShort(); }
void WriteShort(const Ref<TStream>& s, int value) { Use(s).WriteShort(value); }
int32_t ReadInt(const Ref<TStream>& s) { return Use(s).ReadInt(); }
void WriteInt(const Ref<TStream>& s, int32_t value) { Use(s).WriteInt(value); }
int64_t ReadLong(const Ref<TStream>& s) { return Use(s).ReadLong(); }
void WriteLong(const Ref<TStream>& s, int64_t value) { Use(s).WriteLong(value); }
float ReadFloat(const Ref<TStream>& s) { return Use(s).ReadFloat(); }
void WriteFloat(const Ref<TStream>& s, float value) { Use(s).WriteFloat(value); }
double ReadDouble(const Ref<TStream>& s) { return Use(s).ReadDouble(); }
void WriteDouble(const Ref<TStream>& s, double value) { Use(s).WriteDouble(value); }
Text ReadLine(const Ref<TStream>& s) { return Use(s).ReadLine(); }
int WriteLine(const Ref<TStream>& s, const Text& line) { return Use(s).WriteLine(line); }
Text ReadString(const Ref<TStream>& s, int count) { return Use(s).ReadString(count); }
void WriteString(const Ref<TStream>& s, const Text& text) { Use(s).WriteString(text); }
Ref<TObject> ReadObject(const Ref<TStream>& s) { return Use(s).ReadObject(); }
void WriteObject(const Ref<TStream>& s, const Ref<TObject>& object) { Use(s).WriteObject(object); }

std::vector<unsigned char> LoadByteArray(const Url& url) {
  Ref<TStream> s = OpenForLoad(url);
  std::vector<unsigned char> bytes = ReadAll(*s);
  s->Close();
  return bytes;
}

void SaveByteArray(const std::vector<unsigned char>& bytes, const Url& url) {
  Ref<TStream> s = OpenForSave(url);
  // Counts are ints: larger arrays go out in pieces rather than being cut short.
  constexpr size_t kPiece = size_t{1} << 30;
  for (size_t done = 0; done < bytes.size(); done += kPiece) {
    s->WriteBytes(bytes.data() + done, static_cast<int>(std::min(kPiece, bytes.size() - done)));
  }
  s->Close();
}

Text LoadText(const Url& url) {
  std::vector<unsigned char> bytes = LoadByteArray(url);
  return Text::FromLatin1(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

void SaveText(const Text& text, const Url& url) {
  Ref<TStream> s = OpenForSave(url);
  s->WriteString(text);
  s->Close();
}

Ref<TObject> LoadObject(const Url& url) {
  Ref<TStream> s = OpenForLoad(url);
  Ref<TObject> object = s->ReadObject();
  s->Close();
  return object;
}

void SaveObject(const Ref<TObject>& object, const Url& url) {
  Ref<TStream> s = OpenForSave(url);
  s->WriteObject(object);
  s->Close();
}

}  // namespace kiln
