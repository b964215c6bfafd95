// The registry with the real loaders: trial order, the shared start position, refusals passed on.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/pixmap/pixmap_loader.h"
#include "runtime/pixmap/pixmap_loaders.h"
#include "tests/support/temp_dir.h"

namespace kiln {
namespace {

// A memory stream that records every Seek, i.e. every loader the registry asks.
class SeekRecorder : public TStream {
 public:
  explicit SeekRecorder(std::string bytes) : bytes_(std::move(bytes)) {}
  int64_t Pos() override { return pos_; }
  int64_t Size() override { return static_cast<int64_t>(bytes_.size()); }
  int64_t Seek(int64_t pos) override {
    seeks.push_back(pos);
    pos_ = std::clamp<int64_t>(pos, 0, Size());
    return pos_;
  }
  int Read(void* buf, int count) override {
    int n = static_cast<int>(std::min<int64_t>(count, Size() - pos_));
    std::memcpy(buf, bytes_.data() + pos_, static_cast<size_t>(n));
    pos_ += n;
    return n;
  }
  std::vector<int64_t> seeks;

 private:
  std::string bytes_;
  int64_t pos_ = 0;
};

std::string Fixture(const std::string& path) {
  return test::ReadFileBytes(std::string(KILN_TEST_DATA_DIR) + "/pixmap/" + path);
}

std::string Le(uint32_t v, int bytes) {
  std::string s;
  for (int i = 0; i < bytes; ++i) s += static_cast<char>(v >> (8 * i));
  return s;
}

// A 2 x 1 24-bit BMP: blue then white.
std::string SmallBmp() {
  std::string info = Le(40, 4) + Le(2, 4) + Le(1, 4) + Le(1, 2) + Le(24, 2) + std::string(24, '\0');
  std::string row = std::string("\xFF\x00\x00\xFF\xFF\xFF", 6) + std::string(2, '\0');
  return "BM" + Le(14 + 40 + 8, 4) + Le(0, 4) + Le(54, 4) + info + row;
}

std::string SmallTga() {
  std::string h(18, '\0');
  h[2] = 2;
  h[12] = 1;
  h[14] = 1;
  h[16] = 24;
  return h + std::string("\x01\x02\x03", 3);
}

TEST(RegistryLoaders, EachFormatIsDecodedByItsLoaderAfterTheOnesBeforeItDecline) {
  InitPixmapLoaders();
  struct Case {
    const char* name;
    std::string bytes;
    size_t loadersAsked;  // trial order TGA, PNG, JPEG, BMP
    int format;
    int width;
  };
  const Case cases[] = {
      {"tga", SmallTga(), 1, FormatRGB888, 1},
      {"png", Fixture("png/rgba.png"), 2, FormatRGBA8888, 3},
      {"jpeg", Fixture("jpeg/colour.jpg"), 3, FormatRGB888, 16},
      {"bmp", SmallBmp(), 4, FormatBGR888, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // Junk before the picture: every loader must start where the caller's stream stands.
    auto stream = MakeRef<SeekRecorder>("junk!" + c.bytes);
    stream->Seek(5);
    stream->seeks.clear();
    Ref<TPixmap> p = PixmapFromUrl(stream);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->format, c.format);
    EXPECT_EQ(p->width, c.width);
    EXPECT_EQ(stream->seeks, std::vector<int64_t>(c.loadersAsked, 5));
  }
}

TEST(RegistryLoaders, PngCutInsideItsFirstChunkIsPassedOnToTheNextLoaders) {
  InitPixmapLoaders();
  auto stream = MakeRef<SeekRecorder>(Fixture("png/cut_in_first_chunk.png"));
  Ref<TPixmap> p;
  ASSERT_NO_THROW(p = PixmapFromUrl(stream));
  EXPECT_FALSE(p);
  // The PNG loader's read exception did not end the walk: JPEG and BMP were asked as well.
  EXPECT_EQ(stream->seeks.size(), 4u);
}

TEST(RegistryLoaders, CorruptPicturesOfEveryFormatGiveNull) {
  InitPixmapLoaders();
  const std::string pictures[] = {SmallTga(), Fixture("png/rgba.png"), Fixture("jpeg/colour.jpg"), SmallBmp()};
  for (const std::string& picture : pictures) {
    for (size_t n = 0; n < picture.size(); n += std::max<size_t>(1, picture.size() / 40)) {
      std::string cut = picture.substr(0, n);
      EXPECT_NO_THROW(PixmapFromUrl(MakeRef<SeekRecorder>(cut))) << n;
    }
  }
}

TEST(RegistryLoaders, PayloadBackgroundPictureGivesRgbWithPitch1920) {
  InitPixmapLoaders();
  std::string path = std::string(KILN_TEST_DATA_DIR) + "/../../payload/hg_grafik.jpg";
  if (test::ReadFileBytes(path).empty()) GTEST_SKIP() << "no payload picture";
  Ref<TPixmap> p = PixmapFromUrl(Text::FromLatin1(path));
  ASSERT_TRUE(p);
  EXPECT_EQ(p->format, FormatRGB888);
  EXPECT_EQ(p->width, 640);
  EXPECT_EQ(p->height, 480);
  EXPECT_EQ(p->pitch, 1920);
}

TEST(RegistryLoaders, BackgroundSizedJpegGivesRgbWithPitch1920) {
  InitPixmapLoaders();
  test::TempDir dir;
  Ref<TPixmap> picture = AllocatePixmap(640, 480, FormatRGB888, 4);
  for (int y = 0; y < 480; ++y)
    for (int x = 0; x < 640; ++x) picture->WritePixel(x, y, static_cast<int>(0xFF000000u | (x & 0xFF) << 16 | (y & 0xFF)));
  Text path = Text::FromLatin1(dir / "background.jpg");
  ASSERT_EQ(SavePixmapAsJpeg(picture, path, 85), 1);
  Ref<TPixmap> p = PixmapFromUrl(path);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->format, FormatRGB888);
  EXPECT_EQ(p->width, 640);
  EXPECT_EQ(p->height, 480);
  EXPECT_EQ(p->pitch, 1920);
}

}  // namespace
}  // namespace kiln
