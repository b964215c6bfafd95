// Free-function forms of the stream operations, and whole-stream loads and saves.
#pragma once

#include <vector>

#include "runtime/stream/stream_factory.h"

namespace kiln {

// Each forwards to the stream's operation; an empty stream throws the null-object exception.
bool StreamEof(const Ref<TStream>& s);
int64_t StreamPos(const Ref<TStream>& s);
int64_t StreamSize(const Ref<TStream>& s);
int64_t SeekStream(const Ref<TStream>& s, int64_t pos);
int FlushStream(const Ref<TStream>& s);
int CloseStream(const Ref<TStream>& s);
int ReadStreamBytes(const Ref<TStream>& s, void* buf, int count);
int WriteStreamBytes(const Ref<TStream>& s, const void* buf, int count);
int SkipStreamBytes(const Ref<TStream>& s, int count);
int ReadByte(const Ref<TStream>& s);
void WriteByte(const Ref<TStream>& s, int value);
int ReadShort(const Ref<TStream>& s);
void WriteShort(const Ref<TStream>& s, int value);
int32_t ReadInt(const Ref<TStream>& s);
void WriteInt(const Ref<TStream>& s, int32_t value);
int64_t ReadLong(const Ref<TStream>& s);
void WriteLong(const Ref<TStream>& s, int64_t value);
float ReadFloat(const Ref<TStream>& s);
void WriteFloat(const Ref<TStream>& s, float value);
double ReadDouble(const Ref<TStream>& s);
void WriteDouble(const Ref<TStream>& s, double value);
Text ReadLine(const Ref<TStream>& s);
int WriteLine(const Ref<TStream>& s, const Text& line);
Text ReadString(const Ref<TStream>& s, int count);
void WriteString(const Ref<TStream>& s, const Text& text);
Ref<TObject> ReadObject(const Ref<TStream>& s);
void WriteObject(const Ref<TStream>& s, const Ref<TObject>& object);

// Open the URL, read or write everything, close. A URL that cannot be opened throws the stream
// read exception (loads) or the stream write exception (saves).
std::vector<unsigned char> LoadByteArray(const Url& url);
void SaveByteArray(const std::vector<unsigned char>& bytes, const Url& url);
// One code unit per byte.
Text LoadText(const Url& url);
void SaveText(const Text& text, const Url& url);
Ref<TObject> LoadObject(const Url& url);
void SaveObject(const Ref<TObject>& object, const Url& url);

}  // namespace kiln
