#include "tools/screenshot/x_window.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <time.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

namespace zunto::xwindow {
namespace {

void SleepMillis(int ms) {
  timespec t{ms / 1000, (ms % 1000) * 1000000L};
  nanosleep(&t, nullptr);
}

// Ignores the errors of windows that vanish while they are looked at.
int IgnoreError(Display*, XErrorEvent*) { return 0; }

class ErrorsIgnored {
 public:
  explicit ErrorsIgnored(Display* display) : display_(display), previous_(XSetErrorHandler(IgnoreError)) {}
  ~ErrorsIgnored() {
    XSync(display_, False);
    XSetErrorHandler(previous_);
  }
  ErrorsIgnored(const ErrorsIgnored&) = delete;
  ErrorsIgnored& operator=(const ErrorsIgnored&) = delete;

 private:
  Display* display_;
  XErrorHandler previous_;
};

std::string PropertyText(Display* display, Window window, Atom property, Atom type) {
  Atom actual = 0;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(display, window, property, 0, 1024, False, type, &actual, &format, &count, &after, &data) !=
          Success ||
      data == nullptr) {
    return std::string();
  }
  std::string text = format == 8 ? std::string(reinterpret_cast<char*>(data), count) : std::string();
  XFree(data);
  return text;
}

bool HasCaption(Display* display, Window window, const std::string& caption) {
  static const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
  static const Atom netName = XInternAtom(display, "_NET_WM_NAME", False);
  return PropertyText(display, window, XA_WM_NAME, AnyPropertyType) == caption ||
         PropertyText(display, window, netName, utf8) == caption;
}

Window Search(Display* display, Window parent, const std::string& caption, int depth) {
  Window root = 0, up = 0;
  Window* children = nullptr;
  unsigned int count = 0;
  if (!XQueryTree(display, parent, &root, &up, &children, &count)) return 0;
  std::vector<Window> list(children, children + count);
  if (children != nullptr) XFree(children);
  for (Window child : list) {
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display, child, &attributes) || attributes.map_state != IsViewable) continue;
    if (HasCaption(display, child, caption)) return child;
    // A window manager puts each top-level window into a frame of its own.
    if (depth < 2) {
      if (Window found = Search(display, child, caption, depth + 1)) return found;
    }
  }
  return 0;
}

// Bit position and width of a colour mask.
void MaskShape(unsigned long mask, int& shift, int& bits) {
  shift = 0;
  bits = 0;
  if (mask == 0) return;
  while ((mask & 1) == 0) mask >>= 1, ++shift;
  while (mask & 1) mask >>= 1, ++bits;
}

uint8_t Channel(unsigned long pixel, int shift, int bits) {
  const unsigned long value = (pixel >> shift) & ((1ul << bits) - 1);
  return static_cast<uint8_t>(bits >= 8 ? value >> (bits - 8) : value * 255 / ((1ul << bits) - 1));
}

bool SamePixels(const kiln::Ref<kiln::TPixmap>& a, const kiln::Ref<kiln::TPixmap>& b) {
  if (!a || !b || a->width != b->width || a->height != b->height) return false;
  for (int y = 0; y < a->height; ++y) {
    if (std::memcmp(a->PixelPtr(0, y), b->PixelPtr(0, y), static_cast<size_t>(a->width) * 3) != 0) return false;
  }
  return true;
}

bool SingleColour(const kiln::Ref<kiln::TPixmap>& p) {
  const uint8_t* first = p->PixelPtr(0, 0);
  for (int y = 0; y < p->height; ++y) {
    const uint8_t* row = p->PixelPtr(0, y);
    for (int x = 0; x < p->width * 3; ++x) {
      if (row[x] != first[x % 3]) return false;
    }
  }
  return true;
}

// On top of other programs' windows, which would hide it from a grab and take the input.
void Raise(Display* display, Window window) {
  XRaiseWindow(display, window);
  XSync(display, False);
}

bool PointerInto(Display* display, Window window) {
  XWindowAttributes attributes;
  if (!XGetWindowAttributes(display, window, &attributes)) return false;
  Raise(display, window);
  int x = 0, y = 0;
  Window child = 0;
  XTranslateCoordinates(display, window, attributes.root, attributes.width / 2, attributes.height / 2, &x, &y, &child);
  XTestFakeMotionEvent(display, XScreenNumberOfScreen(attributes.screen), x, y, CurrentTime);
  XSync(display, False);
  return true;
}

}  // namespace

Window FindWindowByCaption(Display* display, const std::string& caption) {
  ErrorsIgnored trap(display);
  return Search(display, DefaultRootWindow(display), caption, 0);
}

bool AwaitNoWindow(Display* display, const std::string& caption, int timeoutMs) {
  for (int waited = 0;; waited += 20) {
    if (FindWindowByCaption(display, caption) == 0) return true;
    if (waited >= timeoutMs) return false;
    SleepMillis(20);
  }
}

Window AwaitWindow(Display* display, const std::string& caption, int timeoutMs) {
  for (int waited = 0;; waited += 20) {
    if (Window w = FindWindowByCaption(display, caption)) return w;
    if (waited >= timeoutMs) return 0;
    SleepMillis(20);
  }
}

kiln::Ref<kiln::TPixmap> GrabWindow(Display* display, Window window) {
  ErrorsIgnored trap(display);
  XWindowAttributes attributes;
  if (!XGetWindowAttributes(display, window, &attributes) || attributes.width <= 0 || attributes.height <= 0) return nullptr;
  XImage* image = XGetImage(display, window, 0, 0, static_cast<unsigned>(attributes.width),
                            static_cast<unsigned>(attributes.height), AllPlanes, ZPixmap);
  if (image == nullptr) return nullptr;
  int rs, rb, gs, gb, bs, bb;
  MaskShape(image->red_mask, rs, rb);
  MaskShape(image->green_mask, gs, gb);
  MaskShape(image->blue_mask, bs, bb);
  kiln::Ref<kiln::TPixmap> pixels = kiln::TPixmap::Create(attributes.width, attributes.height, kiln::FormatRGB888);
  for (int y = 0; y < attributes.height; ++y) {
    uint8_t* out = pixels->PixelPtr(0, y);
    for (int x = 0; x < attributes.width; ++x, out += 3) {
      const unsigned long pixel = XGetPixel(image, x, y);
      out[0] = Channel(pixel, rs, rb);
      out[1] = Channel(pixel, gs, gb);
      out[2] = Channel(pixel, bs, bb);
    }
  }
  XDestroyImage(image);
  return pixels;
}

kiln::Ref<kiln::TPixmap> ReadXwdCapture(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  // The header is 25 big-endian 32-bit fields, then the window name, the colour map and the pixels.
  auto field = [&](size_t i) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data()) + 4 * i;
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
  };
  if (bytes.size() < 100 || field(1) != 7 || field(2) != ZPixmap || field(13) != TrueColor) return nullptr;
  const uint64_t width = field(4), height = field(5), bitsPerPixel = field(11), pitch = field(12);
  const uint64_t pixelsAt = uint64_t{field(0)} + uint64_t{field(19)} * 12;
  if ((bitsPerPixel != 24 && bitsPerPixel != 32) || width == 0 || width > 16384 || height == 0 || height > 16384 ||
      pitch < width * bitsPerPixel / 8 || pixelsAt + pitch * height > bytes.size()) {
    return nullptr;
  }
  const bool msbFirst = field(7) == MSBFirst;
  int rs, rb, gs, gb, bs, bb;
  MaskShape(field(14), rs, rb);
  MaskShape(field(15), gs, gb);
  MaskShape(field(16), bs, bb);
  const int w = static_cast<int>(width), h = static_cast<int>(height), step = static_cast<int>(bitsPerPixel / 8);
  kiln::Ref<kiln::TPixmap> pixels = kiln::TPixmap::Create(w, h, kiln::FormatRGB888);
  for (int y = 0; y < h; ++y) {
    const auto* row = reinterpret_cast<const unsigned char*>(bytes.data()) + pixelsAt + pitch * static_cast<uint64_t>(y);
    uint8_t* out = pixels->PixelPtr(0, y);
    for (int x = 0; x < w; ++x, out += 3) {
      unsigned long pixel = 0;
      for (int b = 0; b < step; ++b) {
        const unsigned long byte = row[x * step + b];
        pixel |= msbFirst ? byte << (8 * (step - 1 - b)) : byte << (8 * b);
      }
      out[0] = Channel(pixel, rs, rb);
      out[1] = Channel(pixel, gs, gb);
      out[2] = Channel(pixel, bs, bb);
    }
  }
  return pixels;
}

kiln::Ref<kiln::TPixmap> GrabSettledWindow(Display* display, Window window, int timeoutMs) {
  {
    ErrorsIgnored trap(display);
    Raise(display, window);
  }
  kiln::Ref<kiln::TPixmap> previous = GrabWindow(display, window);
  for (int waited = 0; waited < timeoutMs; waited += 50) {
    SleepMillis(50);
    kiln::Ref<kiln::TPixmap> next = GrabWindow(display, window);
    if (!next) return previous;
    if (SamePixels(previous, next) && !SingleColour(next)) return next;
    previous = next;
  }
  return previous;
}

bool PressKey(Display* display, Window window, const std::string& keysymName) {
  const KeySym keysym = XStringToKeysym(keysymName.c_str());
  const KeyCode code = keysym == NoSymbol ? 0 : XKeysymToKeycode(display, keysym);
  if (code == 0 || !PointerInto(display, window)) return false;
  XTestFakeKeyEvent(display, code, True, CurrentTime);
  XTestFakeKeyEvent(display, code, False, CurrentTime);
  XSync(display, False);
  return true;
}

bool ClickButton(Display* display, Window window, unsigned int button) {
  if (!PointerInto(display, window)) return false;
  XTestFakeButtonEvent(display, button, True, CurrentTime);
  XTestFakeButtonEvent(display, button, False, CurrentTime);
  XSync(display, False);
  return true;
}

bool RequestClose(Display* display, Window window) {
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
  event.xclient.data.l[1] = CurrentTime;
  const bool sent = XSendEvent(display, window, False, NoEventMask, &event) != 0;
  XSync(display, False);
  return sent;
}

}  // namespace zunto::xwindow
