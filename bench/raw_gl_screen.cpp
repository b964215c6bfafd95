// The anchor of the patcher's start-up figures: the same status screen with nothing but the
// libraries called directly. It decodes the background picture with libjpeg and renders the version
// label and the status line with FreeType, opens a 640 x 480 GLX window and draws them as textured
// quads (black of the picture masked, glyphs blended), paced to 60 frames a second with
// clock_nanosleep. Runs until its window is closed, a key is pressed or the process is ended.
//
//   raw_gl_screen <picture.jpg> <font.ttf>
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "bench/glx_bench_window.h"

#include <ft2build.h>
#include FT_FREETYPE_H

namespace {

struct Texture {
  GLuint name = 0;
  int width = 0, height = 0;  // of the picture inside the power-of-two texture
  int x = 0, y = 0;           // where it is drawn
  float u = 1, v = 1;
};

int PowerOfTwo(int n) {
  int p = 1;
  while (p < n) p *= 2;
  return p;
}

Texture Upload(const std::vector<uint32_t>& rgba, int width, int height, int x, int y) {
  const int tw = PowerOfTwo(width), th = PowerOfTwo(height);
  std::vector<uint32_t> texels(static_cast<size_t>(tw) * th, 0);
  for (int row = 0; row < height; ++row) {
    std::copy_n(rgba.begin() + static_cast<ptrdiff_t>(row) * width, width, texels.begin() + static_cast<ptrdiff_t>(row) * tw);
  }
  Texture t;
  glGenTextures(1, &t.name);
  glBindTexture(GL_TEXTURE_2D, t.name);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, tw, th, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels.data());
  t.width = width, t.height = height, t.x = x, t.y = y;
  t.u = static_cast<float>(width) / tw, t.v = static_cast<float>(height) / th;
  return t;
}

// The picture as RGBA with black fully transparent, as the status screen masks it.
bool DecodePicture(const char* path, std::vector<uint32_t>& rgba, int& width, int& height) {
  FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return false;
  jpeg_decompress_struct cinfo{};
  jpeg_error_mgr errors{};
  cinfo.err = jpeg_std_error(&errors);
  jpeg_create_decompress(&cinfo);
  jpeg_stdio_src(&cinfo, file);
  jpeg_read_header(&cinfo, TRUE);
  cinfo.out_color_space = JCS_RGB;
  jpeg_start_decompress(&cinfo);
  width = static_cast<int>(cinfo.output_width), height = static_cast<int>(cinfo.output_height);
  rgba.resize(static_cast<size_t>(width) * height);
  std::vector<unsigned char> row(static_cast<size_t>(width) * 3);
  for (int y = 0; y < height; ++y) {
    JSAMPROW rows[1] = {row.data()};
    jpeg_read_scanlines(&cinfo, rows, 1);
    for (int x = 0; x < width; ++x) {
      const uint32_t r = row[3 * x], g = row[3 * x + 1], b = row[3 * x + 2];
      rgba[static_cast<size_t>(y) * width + x] = (r | g | b) == 0 ? 0 : 0xFF000000u | b << 16 | g << 8 | r;
    }
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  std::fclose(file);
  return true;
}

// One white glyph quad per character of `text`, its pen starting at (x, baseline).
void RenderLine(FT_Face face, const std::u16string& text, int x, int baseline, std::vector<Texture>& quads) {
  for (char16_t c : text) {
    if (FT_Load_Char(face, c, FT_LOAD_RENDER) != 0) continue;
    const FT_GlyphSlot glyph = face->glyph;
    const FT_Bitmap& bitmap = glyph->bitmap;
    if (bitmap.width > 0 && bitmap.rows > 0) {
      // A clear border of one pixel, so that filtering does not bleed at the edges.
      const int w = static_cast<int>(bitmap.width) + 2, h = static_cast<int>(bitmap.rows) + 2;
      std::vector<uint32_t> rgba(static_cast<size_t>(w) * h, 0);
      for (unsigned row = 0; row < bitmap.rows; ++row) {
        for (unsigned col = 0; col < bitmap.width; ++col) {
          const uint32_t alpha = bitmap.buffer[row * bitmap.pitch + col];
          rgba[(row + 1) * w + col + 1] = alpha << 24 | 0xFFFFFF;
        }
      }
      quads.push_back(Upload(rgba, w, h, x + glyph->bitmap_left - 1, baseline - glyph->bitmap_top - 1));
    }
    x += static_cast<int>(glyph->advance.x >> 6);
  }
}

void Draw(const Texture& t) {
  glBindTexture(GL_TEXTURE_2D, t.name);
  glBegin(GL_QUADS);
  glTexCoord2f(0, 0), glVertex2i(t.x, t.y);
  glTexCoord2f(t.u, 0), glVertex2i(t.x + t.width, t.y);
  glTexCoord2f(t.u, t.v), glVertex2i(t.x + t.width, t.y + t.height);
  glTexCoord2f(0, t.v), glVertex2i(t.x, t.y + t.height);
  glEnd();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: raw_gl_screen <picture.jpg> <font.ttf>\n");
    return 2;
  }
  std::vector<uint32_t> picture;
  int width = 0, height = 0;
  if (!DecodePicture(argv[1], picture, width, height)) {
    std::fprintf(stderr, "raw_gl_screen: cannot read %s\n", argv[1]);
    return 1;
  }
  FT_Library library = nullptr;
  FT_Face face = nullptr;
  if (FT_Init_FreeType(&library) != 0 || FT_New_Face(library, argv[2], 0, &face) != 0 ||
      FT_Set_Pixel_Sizes(face, 0, 14) != 0) {
    std::fprintf(stderr, "raw_gl_screen: cannot open the font %s\n", argv[2]);
    return 1;
  }

  const bench::GlxWindow window = bench::OpenGlxWindow("raw GL screen");
  glEnable(GL_TEXTURE_2D);
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);

  std::vector<Texture> quads{Upload(picture, width, height, 0, 0)};
  const int ascender = static_cast<int>(face->size->metrics.ascender >> 6);
  RenderLine(face, u"v 1.3", 600, 2 + ascender, quads);
  RenderLine(face, u"Fertig! Dr\u00fccke eine Taste zum Beenden.", 10, 458 + ascender, quads);

  return bench::RunPaced(window, [&] {
    glClear(GL_COLOR_BUFFER_BIT);
    for (const Texture& t : quads) Draw(t);
  });
}
