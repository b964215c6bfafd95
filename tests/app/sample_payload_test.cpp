#include <ft2build.h>
#include FT_FREETYPE_H
#include <gtest/gtest.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "app/manifest.h"
#include "tests/support/temp_dir.h"
#include "tools/payload/sample_payload.h"

namespace zunto::test {
namespace {

namespace fs = std::filesystem;
using kiln::test::ReadFileBytes;

const fs::path kPayloadRoot = ZUNTO_PAYLOAD_ROOT;

std::string PayloadFile(const std::string& resource) { return ReadFileBytes(kPayloadRoot / resource.substr(2)); }

// Offsets in the cross-reference table point at their objects, and startxref at the table.
::testing::AssertionResult IsOnePagePdf(const std::string& pdf) {
  if (pdf.rfind("%PDF-1.", 0) != 0) return ::testing::AssertionFailure() << "no PDF header";
  if (pdf.size() < 6 || pdf.compare(pdf.size() - 6, 6, "%%EOF\n") != 0) return ::testing::AssertionFailure() << "no %%EOF";
  const size_t startxref = pdf.rfind("startxref\n");
  if (startxref == std::string::npos) return ::testing::AssertionFailure() << "no startxref";
  const size_t xref = std::stoul(pdf.substr(startxref + 10));
  if (pdf.compare(xref, 5, "xref\n") != 0) return ::testing::AssertionFailure() << "startxref misses the table";
  int first = 0, count = 0;
  if (std::sscanf(pdf.c_str() + xref + 5, "%d %d", &first, &count) != 2 || first != 0 || count < 2) {
    return ::testing::AssertionFailure() << "bad xref subsection";
  }
  const size_t entries = pdf.find('\n', xref + 5) + 1;
  for (int i = 1; i < count; ++i) {
    const size_t offset = std::stoul(pdf.substr(entries + 20 * static_cast<size_t>(i), 10));
    const std::string header = std::to_string(i) + " 0 obj";
    if (pdf.compare(offset, header.size(), header) != 0) return ::testing::AssertionFailure() << "object " << i << " misplaced";
  }
  size_t pages = 0;
  for (size_t at = pdf.find("/Type /Page "); at != std::string::npos; at = pdf.find("/Type /Page ", at + 1)) ++pages;
  if (pages != 1 || pdf.find("/Count 1") == std::string::npos) return ::testing::AssertionFailure() << "not one page";
  return ::testing::AssertionSuccess();
}

bool IsUtf8(const std::string& s) {
  for (size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    const size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return false;
    for (size_t k = 1; k < n; ++k) {
      if ((static_cast<unsigned char>(s[i + k]) >> 6) != 2) return false;
    }
    i += n;
  }
  return true;
}

// Tags nest and close, comments and declarations are closed, one root element holds everything.
::testing::AssertionResult IsWellFormedXmlWithBom(const std::string& xml) {
  if (xml.rfind("\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>", 0) != 0) return ::testing::AssertionFailure() << "no BOM and declaration";
  if (!IsUtf8(xml)) return ::testing::AssertionFailure() << "not UTF-8";
  std::vector<std::string> open;
  int roots = 0;
  for (size_t at = xml.find('<'); at != std::string::npos; at = xml.find('<', at + 1)) {
    if (xml.compare(at, 4, "<!--") == 0) {
      const size_t end = xml.find("-->", at + 4);
      if (end == std::string::npos || xml.substr(at + 4, end - at - 4).find("--") != std::string::npos) {
        return ::testing::AssertionFailure() << "bad comment at " << at;
      }
      at = end;
      continue;
    }
    const size_t end = xml.find('>', at);
    if (end == std::string::npos) return ::testing::AssertionFailure() << "unclosed tag at " << at;
    const std::string tag = xml.substr(at + 1, end - at - 1);
    if (tag.front() == '?') {
    } else if (tag.front() == '/') {
      if (open.empty() || open.back() != tag.substr(1)) return ::testing::AssertionFailure() << "mismatched </" << tag;
      open.pop_back();
    } else if (tag.back() != '/') {
      if (open.empty()) ++roots;
      open.push_back(tag.substr(0, tag.find(' ')));
    } else if (open.empty()) {
      return ::testing::AssertionFailure() << "element outside the root";
    }
    at = end;
  }
  if (!open.empty() || roots != 1) return ::testing::AssertionFailure() << "not one closed root element";
  return ::testing::AssertionSuccess();
}

struct JpegInfo {
  int width = 0, height = 0, components = 0;
  bool progressive = true;
  bool decoded = false;
};

struct JpegError {
  jpeg_error_mgr base;
  std::jmp_buf jump;
};

JpegInfo DecodeJpeg(const std::string& bytes) {
  JpegInfo info;
  jpeg_decompress_struct cinfo{};
  JpegError error{};
  cinfo.err = jpeg_std_error(&error.base);
  error.base.error_exit = [](j_common_ptr c) { std::longjmp(reinterpret_cast<JpegError*>(c->err)->jump, 1); };
  error.base.output_message = [](j_common_ptr) {};
  std::vector<unsigned char> row;
  if (setjmp(error.jump) != 0) {
    jpeg_destroy_decompress(&cinfo);
    return info;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
  jpeg_read_header(&cinfo, TRUE);
  info.progressive = cinfo.progressive_mode != 0;
  jpeg_start_decompress(&cinfo);
  info.width = static_cast<int>(cinfo.output_width);
  info.height = static_cast<int>(cinfo.output_height);
  info.components = cinfo.output_components;
  row.resize(static_cast<size_t>(info.width) * static_cast<size_t>(info.components));
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW rows[1] = {row.data()};
    jpeg_read_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_decompress(&cinfo);
  info.decoded = error.base.num_warnings == 0;
  jpeg_destroy_decompress(&cinfo);
  return info;
}

TEST(Manifest, HoldsSixtyOneBlocksOfTheRelease) {
  const auto manifest = PayloadManifest();
  ASSERT_EQ(manifest.size(), 61u);
  int64_t total = 0;
  for (const ManifestEntry& entry : manifest) total += entry.bytes;
  EXPECT_EQ(total, 16197042);
  EXPECT_STREQ(manifest[0].resource, "./data/hg_grafik.jpg");
  EXPECT_STREQ(manifest[1].resource, "./data/arial.ttf");
  EXPECT_STREQ(manifest[13].resource, "./data/Spielzuege/AussenTaeuschenL.xml");
  EXPECT_STREQ(manifest[37].resource, "./data/SpielzuegeGast/AussenTaeuschenL.xml");
  EXPECT_STREQ(manifest[60].resource, "./data/SpielzuegeGast/TaeuschKreuzRechts.xml");
  const std::vector<int> order = ExportOrder();
  ASSERT_EQ(order.size(), 59u);
  for (size_t i = 0; i < order.size(); ++i) EXPECT_EQ(manifest[static_cast<size_t>(order[i])].step, static_cast<int>(i) + 1);
}

TEST(Manifest, DestinationsFollowThePathRules) {
  const std::vector<std::pair<const char*, const char*>> cases = {
      {"./data/Vellmora.exe", "./Vellmora.exe"},
      {"./data/Spielzuege/Daene.xml", "./Zunto_Data/XMLData/Spielzuege/Daene.xml"},
      {"./data/SpielzuegeGast/Schwede.xml", "./Zunto_Data/XMLData/SpielzuegeGast/Schwede.xml"},
      {"./data/", ""},
      {"data/Vellmora.exe", ""},
      {"./Data/Vellmora.exe", ""},
      {"./data/Spielzuege/", ""},
      {"./data/a/b/c.xml", ""},
  };
  for (const auto& [source, destination] : cases) EXPECT_EQ(ExportDestination(source).ToUtf8(), destination) << source;
}

class SamplePayload : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!ZUNTO_SAMPLE_PAYLOAD) GTEST_SKIP() << "built with a release payload";
  }
};

TEST_F(SamplePayload, EveryFileHasExactlyTheManifestSize) {
  for (const ManifestEntry& entry : PayloadManifest()) {
    const fs::path file = kPayloadRoot / std::string(entry.resource).substr(2);
    ASSERT_TRUE(fs::is_regular_file(file)) << file;
    EXPECT_EQ(fs::file_size(file), static_cast<uintmax_t>(entry.bytes)) << file;
  }
}

TEST_F(SamplePayload, BackgroundIsABaseline640x480ColourJpeg) {
  const JpegInfo info = DecodeJpeg(PayloadFile("./data/hg_grafik.jpg"));
  EXPECT_TRUE(info.decoded);
  EXPECT_EQ(info.width, 640);
  EXPECT_EQ(info.height, 480);
  EXPECT_EQ(info.components, 3);
  EXPECT_FALSE(info.progressive);
}

TEST_F(SamplePayload, FontOpensWithFreeTypeAndHasItsLicence) {
  const std::string font = PayloadFile("./data/arial.ttf");
  FT_Library library = nullptr;
  ASSERT_EQ(FT_Init_FreeType(&library), 0);
  FT_Face face = nullptr;
  ASSERT_EQ(FT_New_Memory_Face(library, reinterpret_cast<const FT_Byte*>(font.data()),
                               static_cast<FT_Long>(font.size()), 0, &face), 0);
  EXPECT_TRUE(FT_IS_SCALABLE(face));
  EXPECT_NE(FT_Get_Char_Index(face, 0xFC), 0u);  // the ü of the status line
  EXPECT_EQ(FT_Set_Pixel_Sizes(face, 0, 14), 0);
  EXPECT_EQ(FT_Load_Char(face, 'Z', FT_LOAD_RENDER), 0);
  EXPECT_GT(face->glyph->bitmap.width, 0u);
  FT_Done_Face(face);
  FT_Done_FreeType(library);
  const std::string licence = ReadFileBytes(fs::path(ZUNTO_ASSET_DIR) / "FONT-LICENSE.txt");
  EXPECT_NE(licence.find("Bitstream Vera"), std::string::npos);
  EXPECT_NE(licence.find("DejaVu"), std::string::npos);
}

TEST_F(SamplePayload, DocumentsHaveTheirFormats) {
  for (const char* pdf : {"./data/Anleitung.pdf", "./data/GameplayRegelMenue.pdf"}) {
    EXPECT_TRUE(IsOnePagePdf(PayloadFile(pdf))) << pdf;
  }
  for (const ManifestEntry& entry : PayloadManifest()) {
    const std::string name = entry.resource;
    if (name.ends_with(".xml")) {
      EXPECT_TRUE(IsWellFormedXmlWithBom(PayloadFile(name))) << name;
    }
  }
  for (const char* exe : {"./data/Vellmora.exe", "./data/Zunto.exe"}) {
    const std::string bytes = PayloadFile(exe);
    ASSERT_EQ(bytes.compare(0, 2, "MZ"), 0) << exe;
    uint32_t pe = 0;
    std::memcpy(&pe, bytes.data() + 0x3C, 4);
    EXPECT_EQ(bytes.compare(pe, 6, std::string("PE\0\0\x4C\x01", 6)), 0) << exe;
  }
  for (const char* bat : {"./data/Vellmora_DirectX.bat", "./data/Vellmora_DirectX_Debug.bat",
                          "./data/Vellmora_OpenGL.bat", "./data/Vellmora_OpenGL_Debug.bat"}) {
    const std::string text = PayloadFile(bat);
    EXPECT_NE(text.find("Zunto"), std::string::npos) << bat;
    EXPECT_NE(text.find(" -"), std::string::npos) << bat;
    EXPECT_TRUE(text.ends_with("\r\n")) << bat;
  }
  for (int level = 1; level <= 3; ++level) {
    const std::string notes = PayloadFile("./data/PatchLog" + std::to_string(level) + ".txt");
    EXPECT_NE(notes.find("Version 1." + std::to_string(level)), std::string::npos);
    for (size_t i = 0; i < notes.size(); ++i) {
      const unsigned char c = static_cast<unsigned char>(notes[i]);
      ASSERT_TRUE(c >= 0x20 || (c == '\r' && notes[i + 1] == '\n') || (c == '\n' && notes[i - 1] == '\r'))
          << "byte " << i << " of PatchLog" << level;
    }
  }
}

// The makers must hit any size exactly, whatever the payload's byte counts turn out to be.
TEST(SampleMakers, MakeExactSizesDeterministically) {
  struct Case {
    const char* name;
    std::vector<uint64_t> sizes;
  };
  const std::vector<Case> cases = {
      {"./data/Anleitung.pdf", {2048, 2049, 4095, 9999, 65537, 1000003}},
      {"./data/Spielzuege/Daene.xml", {400, 401, 555, 5376, 6054, 9001}},
      {"./data/PatchLog2.txt", {64, 65, 1178, 1382, 1887}},
      {"./data/Vellmora_OpenGL.bat", {11, 12, 18, 29, 32, 80}},
      {"./data/Zunto.exe", {1024, 1025, 770048}},
  };
  for (const Case& c : cases) {
    for (uint64_t size : c.sizes) {
      const std::string made = tools::MakeSampleFile(c.name, size);
      EXPECT_EQ(made.size(), size) << c.name;
      EXPECT_EQ(tools::MakeSampleFile(c.name, size), made) << c.name;
      if (std::string(c.name).ends_with(".pdf")) {
        EXPECT_TRUE(IsOnePagePdf(made)) << size;
      }
      if (std::string(c.name).ends_with(".xml")) {
        EXPECT_TRUE(IsWellFormedXmlWithBom(made)) << size;
      }
    }
  }
  EXPECT_THROW(tools::MakeSampleFile("./data/Anleitung.pdf", 100), std::runtime_error);
  EXPECT_THROW(tools::MakeSampleFile("./data/Vellmora.bat", 3), std::runtime_error);
  EXPECT_THROW(tools::MakeSampleFile("./data/hg_grafik.jpg", 1000), std::runtime_error);
}

}  // namespace
}  // namespace zunto::test
