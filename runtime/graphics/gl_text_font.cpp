#include "runtime/graphics/internal/gl_text_font.h"

#include <array>

namespace kiln {
namespace {

constexpr int kGlyphs = 96;
constexpr int kRows = 16;

// 3 x 5 glyphs, one octal digit per row from the top; in a digit 4 is the left pixel, 1 the right.
constexpr const char* kSmallGlyphs[kGlyphs] = {
    "00000", "22202", "55000", "57575", "36363", "51245", "25253", "22000",  //  !"#$%&'
    "12221", "42224", "05250", "02720", "00024", "00700", "00002", "11244",  // ()*+,-./
    "75557", "26227", "71747", "71717", "55711", "74717", "74757", "71111",  // 01234567
    "75757", "75717", "02020", "02024", "12421", "07070", "42124", "71202",  // 89:;<=>?
    "25543", "25755", "65656", "34443", "65556", "74647", "74644", "34553",  // @ABCDEFG
    "55755", "72227", "11153", "55655", "44447", "57555", "65555", "25552",  // HIJKLMNO
    "65644", "25563", "65655", "34216", "72222", "55557", "55552", "55575",  // PQRSTUVW
    "55255", "55222", "71247", "64446", "44211", "31113", "25000", "00007",  // XYZ[\]^_
    "42000", "03553", "44656", "03443", "11353", "02563", "12622", "35316",  // `abcdefg
    "44655", "20222", "10116", "45655", "62227", "07755", "06555", "02552",  // hijklmno
    "06564", "03531", "06544", "03216", "27221", "05553", "05552", "05577",  // pqrstuvw
    "05255", "55316", "07247", "32623", "22222", "62326", "03600", "77777",  // xyz{|}~
};

// Each small pixel becomes 2 x 2, placed one column in and three rows down in the 8 x 16 cell.
constexpr std::array<unsigned char, kGlyphs * kRows> BuildFont() {
  std::array<unsigned char, kGlyphs * kRows> bytes{};
  for (int g = 0; g < kGlyphs; ++g) {
    for (int row = 0; row < 5; ++row) {
      int bits = kSmallGlyphs[g][row] - '0';
      unsigned char line = 0;
      for (int col = 0; col < 3; ++col) {
        if (bits & (4 >> col)) line |= static_cast<unsigned char>(0xC0 >> (1 + col * 2));
      }
      bytes[g * kRows + 3 + row * 2] = line;
      bytes[g * kRows + 4 + row * 2] = line;
    }
  }
  return bytes;
}

constexpr std::array<unsigned char, kGlyphs * kRows> kFont = BuildFont();

}  // namespace

const unsigned char* GLTextFontBytes() { return kFont.data(); }
int32_t GLTextFontSize() { return static_cast<int32_t>(kFont.size()); }

}  // namespace kiln
