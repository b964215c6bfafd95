// The reference for the patcher's whole-process figures: the least a program needs to show the same
// screen. It opens a 640 x 480 window with a GLX context, uploads one 1024 x 512 texture and presents
// one textured quad per frame, paced to 60 frames a second with clock_nanosleep on absolute
// deadlines. Runs until its window is closed or the process is ended.
#include <cstdint>
#include <vector>

#include "bench/glx_bench_window.h"

int main() {
  const bench::GlxWindow window = bench::OpenGlxWindow("minimal GLX");
  std::vector<uint32_t> texels(1024 * 512);
  for (size_t i = 0; i < texels.size(); ++i) texels[i] = 0xFF000000u | static_cast<uint32_t>(i * 2654435761u >> 8);
  GLuint texture = 0;
  glGenTextures(1, &texture);
  glBindTexture(GL_TEXTURE_2D, texture);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 1024, 512, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels.data());
  glEnable(GL_TEXTURE_2D);
  return bench::RunPaced(window, [] {
    glBegin(GL_QUADS);
    glTexCoord2f(0, 0), glVertex2f(0, 0);
    glTexCoord2f(0.625f, 0), glVertex2f(640, 0);
    glTexCoord2f(0.625f, 0.9375f), glVertex2f(640, 480);
    glTexCoord2f(0, 0.9375f), glVertex2f(0, 480);
    glEnd();
  });
}
