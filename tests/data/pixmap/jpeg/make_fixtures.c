/* Writes the JPEG fixtures of this folder. Build and run from this folder:
 *   cc make_fixtures.c -ljpeg -o /tmp/make_jpeg_fixtures && /tmp/make_jpeg_fixtures
 * colour.jpg     16x16, 4:4:4, quadrants red, green / blue, white
 * grey.jpg       16x8 greyscale, column x has value x * 17
 * cmyk.jpg       8x8, four components (Adobe CMYK)
 * truncated.jpg  colour 32x32 quadrants cut after its first 40% of entropy data
 * progressive.jpg colour.jpg's picture written progressively */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <jpeglib.h>

static void Quadrants(unsigned char* rgb, int size) {
  static const unsigned char colours[4][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};
  for (int y = 0; y < size; y++)
    for (int x = 0; x < size; x++) {
      int q = (y >= size / 2) * 2 + (x >= size / 2);
      memcpy(rgb + (y * size + x) * 3, colours[q], 3);
    }
}

static unsigned char* Encode(int w, int h, int comps, J_COLOR_SPACE space, const unsigned char* px,
                             int progressive, unsigned long* size) {
  struct jpeg_compress_struct c;
  struct jpeg_error_mgr err;
  unsigned char* out = NULL;
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  jpeg_mem_dest(&c, &out, size);
  c.image_width = w;
  c.image_height = h;
  c.input_components = comps;
  c.in_color_space = space;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, 95, TRUE);
  for (int i = 0; i < c.num_components; i++) c.comp_info[i].h_samp_factor = c.comp_info[i].v_samp_factor = 1;
  if (progressive) jpeg_simple_progression(&c);
  jpeg_start_compress(&c, TRUE);
  for (int y = 0; y < h; y++) {
    JSAMPROW row = (JSAMPROW)(px + y * w * comps);
    jpeg_write_scanlines(&c, &row, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  return out;
}

static void Save(const char* name, const unsigned char* bytes, unsigned long size) {
  FILE* f = fopen(name, "wb");
  fwrite(bytes, 1, size, f);
  fclose(f);
}

int main(void) {
  unsigned long size;
  unsigned char rgb[32 * 32 * 3], grey[16 * 8], cmyk[8 * 8 * 4];
  Quadrants(rgb, 16);
  unsigned char* out = Encode(16, 16, 3, JCS_RGB, rgb, 0, &size);
  Save("colour.jpg", out, size);
  free(out);
  out = Encode(16, 16, 3, JCS_RGB, rgb, 1, &size);
  Save("progressive.jpg", out, size);
  free(out);
  for (int y = 0; y < 8; y++)
    for (int x = 0; x < 16; x++) grey[y * 16 + x] = (unsigned char)(x * 17);
  out = Encode(16, 8, 1, JCS_GRAYSCALE, grey, 0, &size);
  Save("grey.jpg", out, size);
  free(out);
  for (int i = 0; i < 64; i++) {
    cmyk[i * 4] = 0;
    cmyk[i * 4 + 1] = 200;
    cmyk[i * 4 + 2] = 200;
    cmyk[i * 4 + 3] = 0;
  }
  out = Encode(8, 8, 4, JCS_CMYK, cmyk, 0, &size);
  Save("cmyk.jpg", out, size);
  free(out);
  Quadrants(rgb, 32);
  out = Encode(32, 32, 3, JCS_RGB, rgb, 0, &size);
  /* The entropy-coded data follows the start-of-scan segment (FF DA). */
  unsigned long sos = 0;
  for (unsigned long i = 0; i + 1 < size; i++)
    if (out[i] == 0xFF && out[i + 1] == 0xDA) sos = i;
  unsigned long data = sos + 2 + (out[sos + 2] << 8 | out[sos + 3]);
  Save("truncated.jpg", out, data + (size - data) * 2 / 5);
  free(out);
  return 0;
}
