// grab_window <caption> <file.png> [timeout-ms]: waits for the top-level window with that caption on
// $DISPLAY, waits until what it shows has settled, and saves its inside as a PNG.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "runtime/filesystem/filesystem.h"
#include "runtime/pixmap/pixmap_loaders.h"
#include "tools/screenshot/x_window.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s <window caption> <file.png> [timeout-ms]\n", argv[0]);
    return 2;
  }
  const std::string caption = argv[1];
  const int timeoutMs = argc > 3 ? std::atoi(argv[3]) : 10000;
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    std::fprintf(stderr, "%s: cannot open the X display \"%s\"\n", argv[0], std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "");
    return 1;
  }
  int status = 0;
  const Window window = zunto::xwindow::AwaitWindow(display, caption, timeoutMs);
  if (window == 0) {
    std::fprintf(stderr, "%s: no window \"%s\" appeared within %d ms\n", argv[0], caption.c_str(), timeoutMs);
    status = 1;
  } else {
    kiln::InitFileSystemModule();
    kiln::InitPixmapLoaders();
    kiln::Ref<kiln::TPixmap> pixels = zunto::xwindow::GrabSettledWindow(display, window, timeoutMs);
    if (!pixels || kiln::SavePixmapAsPng(pixels, kiln::Text::FromUtf8(argv[2]), 6) != 1) {
      std::fprintf(stderr, "%s: cannot save the window \"%s\" as %s\n", argv[0], caption.c_str(), argv[2]);
      status = 1;
    }
  }
  XCloseDisplay(display);
  return status;
}
