#include "runtime/system/x11/x11.h"

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
  errorsBefore_ = trappedErrors;
  previous_ = XSetErrorHandler(&CountError);
}

XErrorTrap::~XErrorTrap() {
  XSync(display_, False);
  XSetErrorHandler(previous_);
}

bool XErrorTrap::Failed() {
  XSync(display_, False);
  return trappedErrors != errorsBefore_;
}

}  // namespace kiln::x11
