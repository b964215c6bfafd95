// Decoding JPEG pictures: colour spaces, cut-off and corrupt files, and how stream failures travel.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "runtime/pixmap/pixmap_loader.h"
#include "runtime/pixmap/pixmap_loaders.h"
#include "runtime/stream/ram_stream.h"
#include "tests/support/peak_memory.h"
#include "tests/support/temp_dir.h"

namespace kiln {
namespace {

std::string Fixture(const std::string& name) {
  return test::ReadFileBytes(std::string(KILN_TEST_DATA_DIR) + "/pixmap/jpeg/" + name);
}

Ref<TPixmap> Decode(const std::string& bytes) {
  return PixmapFromJpeg(TRamStream::Create(bytes.data(), static_cast<int64_t>(bytes.size())));
}

// The three channels of pixel (x, y) of an RGB or grey pixmap lie within `tolerance` of the expected.
void ExpectNear(const Ref<TPixmap>& p, int x, int y, int r, int g, int b, int tolerance) {
  uint32_t v = static_cast<uint32_t>(p->ReadPixel(x, y));
  EXPECT_NEAR(static_cast<int>((v >> 16) & 0xFF), r, tolerance) << x << "," << y;
  EXPECT_NEAR(static_cast<int>((v >> 8) & 0xFF), g, tolerance) << x << "," << y;
  EXPECT_NEAR(static_cast<int>(v & 0xFF), b, tolerance) << x << "," << y;
}

// colour.jpg and progressive.jpg: 16x16 with quadrants red, green / blue, white.
void ExpectQuadrants(const Ref<TPixmap>& p, int size) {
  ASSERT_TRUE(p);
  EXPECT_EQ(p->format, FormatRGB888);
  EXPECT_EQ(p->width, size);
  EXPECT_EQ(p->height, size);
  EXPECT_EQ(p->pitch, size * 3);
  int h = size / 2;
  ExpectNear(p, 1, 1, 255, 0, 0, 12);
  ExpectNear(p, h + 2, 2, 0, 255, 0, 12);
  ExpectNear(p, 2, h + 3, 0, 0, 255, 12);
  ExpectNear(p, size - 1, size - 1, 255, 255, 255, 12);
}

TEST(JpegLoader, ColourPictureGivesRgbRowsTopFirst) {
  InitPixmapLoaders();
  ExpectQuadrants(Decode(Fixture("colour.jpg")), 16);
  ExpectQuadrants(Decode(Fixture("progressive.jpg")), 16);
}

TEST(JpegLoader, GreyPictureGivesGrey8) {
  InitPixmapLoaders();
  Ref<TPixmap> p = Decode(Fixture("grey.jpg"));
  ASSERT_TRUE(p);
  EXPECT_EQ(p->format, FormatGrey8);
  EXPECT_EQ(p->width, 16);
  EXPECT_EQ(p->height, 8);
  EXPECT_EQ(p->pitch, 16);
  for (int x = 0; x < 16; x += 5) EXPECT_NEAR(p->PixelPtr(x, 4)[0], x * 17, 6) << x;
}

TEST(JpegLoader, FourComponentPictureIsRefused) {
  InitPixmapLoaders();
  EXPECT_FALSE(Decode(Fixture("cmyk.jpg")));
}

TEST(JpegLoader, CutOffPictureDecodesAsFarAsItGoes) {
  InitPixmapLoaders();
  Ref<TPixmap> p = Decode(Fixture("truncated.jpg"));
  ASSERT_TRUE(p);
  EXPECT_EQ(p->width, 32);
  EXPECT_EQ(p->height, 32);
  ExpectNear(p, 3, 3, 255, 0, 0, 12);
  ExpectNear(p, 20, 3, 0, 255, 0, 12);
}

TEST(JpegLoader, DataThatIsNotAJpegGivesNullWithoutThrowing) {
  InitPixmapLoaders();
  std::string colour = Fixture("colour.jpg");
  const std::string cases[] = {
      "",                                  // libjpeg's empty-input error
      "not a picture at all",              // no start-of-image marker
      std::string("\xFF\xD8\xFF\xD9", 4),  // start and end, no frame
      colour.substr(0, 3),                 // ends inside the first marker
      std::string("\xFF\xD8", 2) + std::string(5000, '\xFF'),
  };
  for (const std::string& bytes : cases) {
    EXPECT_FALSE(Decode(bytes)) << bytes.size();
  }
}

// Writes the frame size into the start-of-frame segment.
std::string WithFrameSize(std::string jpeg, int width, int height) {
  size_t sof = jpeg.find("\xFF\xC0");
  EXPECT_NE(sof, std::string::npos);
  jpeg[sof + 5] = static_cast<char>(height >> 8);
  jpeg[sof + 6] = static_cast<char>(height);
  jpeg[sof + 7] = static_cast<char>(width >> 8);
  jpeg[sof + 8] = static_cast<char>(width);
  return jpeg;
}

TEST(JpegLoader, HugeFrameIsRefusedBeforeAnyPixelMemoryIsTaken) {
  InitPixmapLoaders();
  // 65000 x 65000 x 3 bytes would be 12 GB.
  EXPECT_FALSE(Decode(WithFrameSize(Fixture("colour.jpg"), 65000, 65000)));
  // A frame larger than its data still decodes: the missing rows come out as libjpeg makes them.
  Ref<TPixmap> p = Decode(WithFrameSize(Fixture("colour.jpg"), 16, 40));
  ASSERT_TRUE(p);
  EXPECT_EQ(p->height, 40);
}

// progressive.jpg with a large frame and `extraScans` more copies of its last scan, each without
// data: every one makes the decoder walk all blocks of the frame.
std::string WithEmptyScans(int width, int height, int extraScans) {
  std::string jpeg = Fixture("progressive.jpg");
  size_t sof = jpeg.find("\xFF\xC2");
  size_t lastScan = jpeg.rfind("\xFF\xDA");
  size_t end = jpeg.rfind("\xFF\xD9");
  EXPECT_TRUE(sof != std::string::npos && lastScan != std::string::npos && end != std::string::npos);
  jpeg[sof + 5] = static_cast<char>(height >> 8);
  jpeg[sof + 6] = static_cast<char>(height);
  jpeg[sof + 7] = static_cast<char>(width >> 8);
  jpeg[sof + 8] = static_cast<char>(width);
  std::string scanHeader = jpeg.substr(lastScan, 10);
  std::string scans;
  for (int i = 0; i < extraScans; ++i) scans += scanHeader;
  return jpeg.insert(end, scans);
}

// Comment segments after the start-of-image marker that make the file `bytes` longer.
std::string WithPadding(std::string jpeg, int64_t bytes) {
  std::string segments;
  for (int64_t left = bytes; left > 0; left -= 60000) {
    const int length = static_cast<int>(std::min<int64_t>(left, 60000)) + 2;
    segments += std::string("\xFF\xFE") + static_cast<char>(length >> 8) + static_cast<char>(length);
    segments += std::string(static_cast<size_t>(length - 2), 'x');
  }
  return jpeg.insert(2, segments);
}

TEST(JpegLoader, FramesTheFileCannotFillAndEndlessScansAreRefused) {
  InitPixmapLoaders();
  // Under a bit of the file for each block of a 4000 x 4000 frame (at most 750000 blocks).
  EXPECT_FALSE(Decode(WithEmptyScans(4000, 4000, 0)));
  // With the bytes a picture of that frame needs at least, it decodes.
  Ref<TPixmap> p = Decode(WithPadding(WithEmptyScans(4000, 4000, 0), 100000));
  ASSERT_TRUE(p);
  EXPECT_EQ(p->width, 4000);
  // The same file with 990 empty scans would make the decoder visit 740 million blocks.
  EXPECT_FALSE(Decode(WithPadding(WithEmptyScans(4000, 4000, 990), 100000)));
}

// 15 KB claiming an 8000 x 8000 progressive frame with 999 scans: libjpeg would take and clear
// a coefficient buffer of 190 MB or more before the first scan.
TEST(JpegLoader, AFileTooSmallForItsFrameIsRefusedBeforeItsMemoryIsTaken) {
  InitPixmapLoaders();
  const std::string hostile = WithEmptyScans(8000, 8000, 999);
  bool refused = false;
  const int64_t growth = test::PeakMemoryGrowth([&] { refused = !Decode(hostile); });
  EXPECT_TRUE(refused);
  if (growth >= 0) {
    EXPECT_LT(growth, int64_t{16} << 20);
  }
}

TEST(JpegLoader, DecodingStartsAtTheStreamPosition) {
  InitPixmapLoaders();
  std::string bytes = "prefix" + Fixture("colour.jpg");
  Ref<TRamStream> stream = TRamStream::Create(bytes.data(), static_cast<int64_t>(bytes.size()));
  stream->Seek(6);
  ExpectQuadrants(PixmapFromJpeg(stream), 16);
  // Through a stream object the caller's stream stays open.
  EXPECT_EQ(stream->Seek(0), 0);
}

TEST(JpegLoader, OpensTextUrlsAndGivesNullForMissingFiles) {
  InitPixmapLoaders();
  ExpectQuadrants(PixmapFromJpeg(Text::FromLatin1(std::string(KILN_TEST_DATA_DIR) + "/pixmap/jpeg/colour.jpg")), 16);
  EXPECT_FALSE(PixmapFromJpeg(Text("/nonexistent/folder/picture.jpg")));
}

// Serves its bytes, then throws a chosen value instead of reporting the end.
class FailingStream : public TStream {
 public:
  FailingStream(std::string bytes, int failure) : bytes_(std::move(bytes)), failure_(failure) {}
  int64_t Pos() override { return pos_; }
  int64_t Size() override { return static_cast<int64_t>(bytes_.size()); }
  int64_t Seek(int64_t pos) override { return pos_ = pos; }
  int Read(void* buf, int count) override {
    if (pos_ >= Size()) {
      if (failure_ == 0) throw TStreamReadException();
      throw Text("disk on fire");
    }
    int n = static_cast<int>(std::min<int64_t>(count, Size() - pos_));
    std::memcpy(buf, bytes_.data() + pos_, static_cast<size_t>(n));
    pos_ += n;
    return n;
  }

 private:
  std::string bytes_;
  int failure_;
  int64_t pos_ = 0;
};

TEST(JpegLoader, StreamExceptionsTravelOutAfterTheDecoderIsReleased) {
  InitPixmapLoaders();
  std::string cut = Fixture("colour.jpg").substr(0, 300);
  EXPECT_THROW(PixmapFromJpeg(MakeRef<FailingStream>(cut, 0)), TStreamReadException);
  EXPECT_THROW(PixmapFromJpeg(MakeRef<FailingStream>(cut, 1)), Text);
  // The registry counts the stream exception as the JPEG loader's refusal.
  EXPECT_FALSE(PixmapFromUrl(MakeRef<FailingStream>(cut, 0)));
}

}  // namespace
}  // namespace kiln
