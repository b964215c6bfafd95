#include "runtime/graphics/x11/x11_error_trap.h"

namespace kiln::x11 {
namespace {

int trappedErrors = 0;

int CountError(Display*, XErrorEvent*) {
  ++trappedErrors;
  return 0;
}

}  // namespace

XErrorTrap::XErrorTrap(Display* display) : display_(display) {
  XSync(display_, False);
  trappedErrors = 0;
  previous_ = XSetErrorHandler(&CountError);
}

XErrorTrap::~XErrorTrap() {
  XSync(display_, False);
  XSetErrorHandler(previous_);
}

bool XErrorTrap::Failed() {
  XSync(display_, False);
  return trappedErrors != 0;
}

}  // namespace kiln::x11
