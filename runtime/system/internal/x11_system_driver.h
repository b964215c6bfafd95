// The system driver on X11.
#pragma once

#include "runtime/system/system.h"

namespace kiln::x11 {

class TX11SystemDriver : public TSystemDriver {
 public:
  TX11SystemDriver();
  int Poll() override;
  int Wait() override;
  int MoveMouse(int x, int y) override;
  int SetMouseVisible(int visible) override;
  int Notify(const Text& text, int serious) override;
  int Confirm(const Text& text, int serious) override;
  int Proceed(const Text& text, int serious) override;
  Text RequestFile(const Text& title, const Text& extensions, int save, const Text& path) override;
  Text RequestDir(const Text& title, const Text& path) override;
  int OpenURL(const Text& url) override;
};

}  // namespace kiln::x11
