#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "runtime/stream/c_stream.h"
#include "runtime/stream/endian_stream.h"
#include "runtime/stream/ram_stream.h"
#include "runtime/stream/resources.h"
#include "runtime/stream/stream_factory.h"
#include "runtime/stream/stream_functions.h"
#include "runtime/stream/stream_module.h"
#include "tests/support/temp_dir.h"

namespace kiln {
namespace {

class StreamTest : public ::testing::Test {
 protected:
  void SetUp() override { InitStreamModule(); }
};

Ref<TRamStream> Over(std::string& bytes, int writeable = 0) {
  return TRamStream::Create(bytes.data(), static_cast<int64_t>(bytes.size()), 1, writeable);
}

TEST_F(StreamTest, ResourceRegistryFirstRegistrationWinsAndLookupIsExact) {
  static const char first[] = "first";
  static const char second[] = "second!";
  EXPECT_EQ(AddEmbeddedResource("./data/reg.bin", first, 5), 1);
  EXPECT_EQ(AddEmbeddedResource("./data/reg.bin", second, 7), 0);
  EXPECT_EQ(EmbeddedResourceSize("./data/reg.bin"), 5);
  EXPECT_EQ(EmbeddedResourcePointer("./data/reg.bin"), reinterpret_cast<const unsigned char*>(first));
  EXPECT_EQ(EmbeddedResourcePointer("data/reg.bin"), nullptr);
  EXPECT_EQ(EmbeddedResourcePointer(".\\data\\reg.bin"), nullptr);
  EXPECT_EQ(EmbeddedResourceSize("./Data/reg.bin"), 0);
}

TEST_F(StreamTest, IncbinUrlsOpenReadOnlyStreamsWithProtocolInAnyCase) {
  static const char bytes[] = "0123456789";
  AddEmbeddedResource("./data/ten.bin", bytes, 10);
  Ref<TStream> s = ReadableStreamFromUrl("InCbIn::./data/ten.bin");
  ASSERT_TRUE(s);
  EXPECT_EQ(s->Size(), 10);
  EXPECT_FALSE(StreamFromUrl("incbin::./Data/ten.bin", 1, 0));
  EXPECT_FALSE(StreamFromUrl("incbin::./data/ten.bin", 1, 1));
  EXPECT_FALSE(StreamFromUrl("incbin::./data/ten.bin", 0, 1));
  EXPECT_FALSE(StreamFromUrl("nosuchproto::x", 1, 0));
  // Without "::" the text is a file path, even when it names a resource.
  EXPECT_FALSE(ReadableStreamFromUrl("./data/ten.bin"));
}

// Answers one protocol with a marker stream and counts the URLs that reach it.
class TMarkerFactory : public TStreamFactory {
 public:
  TMarkerFactory(const char* protocol, std::string* marker) : protocol_(protocol), marker_(marker) {}
  Ref<TStream> CreateStream(const Url&, const Text& protocol, const Text&, int, int) override {
    ++asked;
    if (!(protocol == protocol_)) return nullptr;
    return TRamStream::Create(marker_->data(), static_cast<int64_t>(marker_->size()), 1, 0);
  }
  int asked = 0;

 private:
  Text protocol_;
  std::string* marker_;
};

TEST_F(StreamTest, NewestFactoryIsAskedFirst) {
  static std::string older = "older";
  static std::string newer = "newer";
  auto first = MakeRef<TMarkerFactory>("order", &older);
  auto second = MakeRef<TMarkerFactory>("order", &newer);
  TStreamFactory::Register(first);
  TStreamFactory::Register(second);
  EXPECT_TRUE(StreamFactoryHead() == second);
  Ref<TStream> s = ReadableStreamFromUrl("ORDER::x");
  ASSERT_TRUE(s);
  EXPECT_EQ(s->Size(), 5);
  EXPECT_EQ(s->ReadString(5), Text("newer"));
  EXPECT_EQ(first->asked, 0);
}

TEST_F(StreamTest, TextObjectUrlIsItsText) {
  static const char bytes[] = "abc";
  AddEmbeddedResource("./data/abc.bin", bytes, 3);
  Ref<TStream> s = ReadableStreamFromUrl(Url(MakeRef<TTextObject>(Text("incbin::./data/abc.bin"))));
  ASSERT_TRUE(s);
  EXPECT_EQ(s->Size(), 3);
}

TEST_F(StreamTest, EmptyResourceOpensAsEmptyStream) {
  AddEmbeddedResource("./data/empty.bin", nullptr, 0);
  Ref<TStream> s = ReadableStreamFromUrl("incbin::./data/empty.bin");
  ASSERT_TRUE(s);
  EXPECT_TRUE(s->Eof());
}

TEST_F(StreamTest, RamStreamSeekClampsAndReadsStopAtEnd) {
  std::string block(4196, 'x');
  auto s = Over(block);
  EXPECT_EQ(s->Seek(-5), 0);
  EXPECT_EQ(s->Seek(99999), 4196);
  s->Seek(4096);
  std::vector<char> buf(4096);
  EXPECT_EQ(s->Read(buf.data(), 4096), 100);
  EXPECT_EQ(s->Read(buf.data(), 4096), 0);
  EXPECT_TRUE(s->Eof());
  auto unreadable = TRamStream::Create(block.data(), 10, 0, 0);
  EXPECT_EQ(unreadable->Read(buf.data(), 4), 0);
  EXPECT_EQ(unreadable->Write("ab", 2), 0);
}

TEST_F(StreamTest, RamStreamWritesNeverGrowTheBlock) {
  std::string block = "abcd";
  auto s = Over(block, 1);
  s->Seek(2);
  EXPECT_EQ(s->Write("XYZ", 3), 2);
  EXPECT_EQ(block, "abXY");
  EXPECT_THROW(s->WriteBytes("Q", 1), TStreamWriteException);
}

TEST_F(StreamTest, TypedReadsAreLittleEndianAndThrowAtEnd) {
  std::string block("\x01\x02\x03\x04\x05\x06\x07\x08\xFF", 9);
  auto s = Over(block);
  EXPECT_EQ(s->ReadShort(), 0x0201);
  EXPECT_EQ(s->ReadInt(), 0x06050403);
  EXPECT_EQ(s->ReadShort(), 0x0807);
  EXPECT_EQ(s->ReadByte(), 255);
  try {
    s->ReadByte();
    FAIL();
  } catch (const TKilnException& e) {
    EXPECT_EQ(e.ToString(), Text("Error reading from stream"));
  }
}

// Every typed value in both byte orders: the bytes written, and the value read back from them.
TEST_F(StreamTest, TypedValuesHaveTheirLayoutInBothByteOrders) {
  struct Case {
    const char* name;
    std::string little;  // the bytes on the stream in little-endian order
    void (*write)(TStream& s);
    bool (*readBack)(TStream& s);
  };
  const Case cases[] = {
      {"short", std::string("\xFE\xFF", 2), [](TStream& s) { s.WriteShort(-2); },
       [](TStream& s) { return s.ReadShort() == 0xFFFE; }},  // zero-extended
      {"long", std::string("\x08\x07\x06\x05\x04\x03\x02\x81", 8),
       [](TStream& s) { s.WriteLong(static_cast<int64_t>(0x8102030405060708ull)); },
       [](TStream& s) { return s.ReadLong() == static_cast<int64_t>(0x8102030405060708ull); }},
      {"float", std::string("\x00\x00\xC0\xBF", 4), [](TStream& s) { s.WriteFloat(-1.5f); },
       [](TStream& s) { return s.ReadFloat() == -1.5f; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (bool big : {false, true}) {
      std::string block(c.little.size(), '\0');
      auto raw = Over(block, 1);
      Ref<TStream> s = big ? TXEndianStream::BigEndian(raw) : Ref<TStream>(raw);
      c.write(*s);
      std::string expected = c.little;
      if (big) std::reverse(expected.begin(), expected.end());
      EXPECT_EQ(block, expected) << (big ? "big" : "little");
      raw->Seek(0);
      EXPECT_TRUE(c.readBack(*s)) << (big ? "big" : "little");
    }
  }
}

TEST_F(StreamTest, SkipBytesConsumesInChunksAndThrowsPastTheEnd) {
  std::string block(3000, 'x');
  block[2500] = 'y';
  auto s = Over(block);
  EXPECT_EQ(s->SkipBytes(2500), 2500);
  EXPECT_EQ(s->ReadByte(), 'y');
  EXPECT_THROW(s->SkipBytes(500), TStreamReadException);
}

TEST_F(StreamTest, TypedWritesRoundTripThroughBigEndianWrapper) {
  std::string block(32, '\0');
  auto raw = Over(block, 1);
  Ref<TStream> big = TXEndianStream::BigEndian(raw);
  big->WriteShort(0x1234);
  big->WriteInt(0x01020304);
  big->WriteDouble(1.5);
  big->WriteByte(0x1FF);
  EXPECT_EQ(block.substr(0, 6), std::string("\x12\x34\x01\x02\x03\x04", 6));
  EXPECT_EQ(static_cast<unsigned char>(block[6]), 0x3F);  // 1.5 = 3FF8 0000 0000 0000
  EXPECT_EQ(static_cast<unsigned char>(block[14]), 0xFF);
  raw->Seek(0);
  EXPECT_EQ(big->ReadShort(), 0x1234);
  EXPECT_EQ(big->ReadInt(), 0x01020304);
  EXPECT_EQ(big->ReadDouble(), 1.5);
  EXPECT_EQ(TXEndianStream::LittleEndian(raw), raw);
}

TEST_F(StreamTest, EndianProtocolsWrapTheInnerUrl) {
  static const char bytes[] = "\x00\x01";
  AddEmbeddedResource("./data/be.bin", bytes, 2);
  Ref<TStream> be = ReadableStreamFromUrl("bigendian::incbin::./data/be.bin");
  ASSERT_TRUE(be);
  EXPECT_EQ(be->ReadShort(), 1);
  Ref<TStream> le = ReadableStreamFromUrl("littleendian::incbin::./data/be.bin");
  ASSERT_TRUE(le);
  EXPECT_EQ(le->ReadShort(), 0x100);
  EXPECT_FALSE(ReadableStreamFromUrl("bigendian::incbin::./data/missing"));
}

TEST_F(StreamTest, ReadLineDropsCarriageReturnsAndStopsAtLineFeedOrZero) {
  struct Case {
    std::string bytes;
    std::vector<std::string> lines;
  } cases[] = {
      {std::string("ab\r\ncd", 6), {"ab", "cd"}},
      {std::string("a\rb\nz\0y", 7), {"ab", "z", "y"}},
      {std::string(5000, 'q'), {std::string(5000, 'q')}},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.bytes.substr(0, 10));
    auto s = Over(c.bytes);
    for (const std::string& line : c.lines) EXPECT_EQ(s->ReadLine().ToLatin1(), line);
    EXPECT_TRUE(s->Eof());
  }
}

TEST_F(StreamTest, WriteLineWritesCrLfAndReportsShortWrites) {
  std::string block(3, '\0');
  auto s = Over(block, 1);
  EXPECT_EQ(s->WriteLine("x"), 1);
  EXPECT_EQ(block, "x\r\n");
  std::string tiny(2, '\0');
  auto t = Over(tiny, 1);
  EXPECT_EQ(t->WriteLine("x"), 0);
  EXPECT_EQ(t->WriteLine("xyz"), 0);
}

TEST_F(StreamTest, StringsCrossAsLowBytes) {
  std::string block(4, '\0');
  auto s = Over(block, 1);
  s->WriteString(Text(u"\u01FCab"));
  s->Seek(0);
  EXPECT_EQ(s->ReadString(3), Text(u"\u00FCab"));
  EXPECT_THROW(s->ReadString(2), TStreamReadException);
  try {
    s->ReadObject();
    FAIL();
  } catch (const Text& t) {
    EXPECT_EQ(t, Text("Unable to read object"));
  }
}

class CountingStream : public TStream {
 public:
  int Write(const void*, int count) override {
    ++writes;
    return count;
  }
  int writes = 0;
};

TEST_F(StreamTest, ZeroByteWriteBytesDoesNotCallWrite) {
  auto s = MakeRef<CountingStream>();
  EXPECT_EQ(s->WriteBytes("", 0), 0);
  EXPECT_EQ(s->writes, 0);
}

TEST_F(StreamTest, BaseStreamIsNeitherReadableNorWriteable) {
  auto s = MakeRef<TStream>();
  char c;
  try {
    s->Read(&c, 1);
    FAIL();
  } catch (const TRuntimeException& e) {
    EXPECT_EQ(e.ToString(), Text("Stream is not readable"));
  }
  try {
    s->Write(&c, 1);
    FAIL();
  } catch (const TRuntimeException& e) {
    EXPECT_EQ(e.ToString(), Text("Stream is not writeable"));
  }
  EXPECT_EQ(s->Pos(), -1);
  EXPECT_EQ(s->Seek(3), -1);
}

TEST_F(StreamTest, StreamUrlGivesWrapperWhoseCloseLeavesTheStreamOpen) {
  test::TempDir dir;
  Ref<TStream> file = WritableStreamFromUrl(Text((dir / "w.bin").c_str()));
  ASSERT_TRUE(file);
  Ref<TStream> wrapper = StreamFromUrl(file, 0, 1);
  ASSERT_TRUE(wrapper);
  EXPECT_NE(wrapper, file);
  wrapper->WriteInt(7);
  CloseStreamObject(wrapper);
  file->WriteInt(8);
  file->Close();
  EXPECT_EQ(test::ReadFileBytes(dir / "w.bin"), std::string("\x07\0\0\0\x08\0\0\0", 8));
}

// A source that never reaches its end and never delivers a byte.
class StuckStream : public TStream {
 public:
  bool Eof() override { return false; }
  int Read(void*, int) override { return 0; }
};

TEST_F(StreamTest, TransferStreamCopiesEverythingAndFailsOnAStuckSource) {
  std::string src(10000, '\0');
  for (size_t i = 0; i < src.size(); ++i) src[i] = static_cast<char>(i * 7);
  std::string dst(10000, '\0');
  EXPECT_EQ(TransferStream(Over(src), Over(dst, 1), 4096), 0);
  EXPECT_EQ(dst, src);
  std::string empty;
  std::string untouched = "keep";
  TransferStream(Over(empty), Over(untouched, 1), 4096);
  EXPECT_EQ(untouched, "keep");
  EXPECT_THROW(TransferStream(MakeRef<StuckStream>(), Over(dst, 1), 4096), TStreamReadException);
}

TEST_F(StreamTest, FileStreamModesSizesAndSeeks) {
  test::TempDir dir;
  Text path((dir / "f.bin").c_str());
  Ref<TStream> w = WritableStreamFromUrl(path);
  ASSERT_TRUE(w);
  w->WriteString("hello");
  EXPECT_EQ(w->Size(), 5);
  w->Close();
  w->Close();
  Ref<TStream> rw = StreamFromUrl(path, 1, 1);
  ASSERT_TRUE(rw);
  EXPECT_EQ(rw->Size(), 5);
  EXPECT_EQ(rw->Seek(100), 100);
  rw->Seek(1);
  rw->WriteByte('E');
  rw->Close();
  EXPECT_EQ(test::ReadFileBytes(dir / "f.bin"), "hEllo");
  // Back slashes are path separators.
  std::filesystem::create_directory(dir.Path() / "sub");
  Text backslashed = Text((dir.Path().string() + "\\sub\\g.bin").c_str());
  Ref<TStream> g = WritableStreamFromUrl(backslashed);
  ASSERT_TRUE(g);
  g->Close();
  EXPECT_TRUE(std::filesystem::exists(dir.Path() / "sub" / "g.bin"));
  EXPECT_FALSE(WritableStreamFromUrl(Text((dir / "missing/x.bin").c_str())));
  EXPECT_FALSE(ReadableStreamFromUrl(Text((dir / "nothing.bin").c_str())));
  // A folder is not a file, although the platform would open it for reading.
  EXPECT_FALSE(ReadableStreamFromUrl(Text((dir / "sub").c_str())));
  EXPECT_FALSE(StreamFromUrl(Text((dir / "sub").c_str()), 1, 1));
}

TEST_F(StreamTest, WholeStreamLoadsAndSavesReportUnopenableUrls) {
  test::TempDir dir;
  Text path((dir / "bytes.bin").c_str());
  SaveByteArray({1, 2, 3}, path);
  EXPECT_EQ(LoadByteArray(path), (std::vector<unsigned char>{1, 2, 3}));
  EXPECT_THROW(LoadByteArray(Text((dir / "none").c_str())), TStreamReadException);
  EXPECT_THROW(SaveText("x", Text((dir / "none/x").c_str())), TStreamWriteException);
  EXPECT_THROW(ReadByte(nullptr), TNullObjectException);
}

}  // namespace
}  // namespace kiln
