// The records behind the GL context handles, the same on every window system: the list (newest
// first), the current record and the swap-interval cache. gl_context_list.cpp implements the
// functions of gl_context.h that need nothing of the window system beyond what a record does for
// itself; each backend derives its record and implements the rest.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "runtime/graphics/internal/gl_context.h"

namespace kiln {

// One GL context and what it draws to; a backend's record adds the window system's handles.
class GLContextRecord {
 public:
  GLContextRecord() = default;
  GLContextRecord(const GLContextRecord&) = delete;
  GLContextRecord& operator=(const GLContextRecord&) = delete;
  virtual ~GLContextRecord() = default;

  // Gives back the context and, for own windows, the window (and a display mode it holds). Runs
  // once, while the record is still listed, so the window system still finds it meanwhile.
  virtual void Release() = 0;
  // Makes the context current; false when the window system refuses.
  virtual bool Activate() = 0;
  // Shows what was drawn; false when a foreign window has gone (then no context stays current).
  virtual bool Present() = 0;
  // Attached records re-read their window's client size.
  virtual void RefreshSize() {}
  virtual intptr_t NativeWindow() const = 0;

  int handle = 0;
  GLContextMode mode = GLDesktopContext;
  int width = 0, height = 0, depth = 0, hertz = 0, flags = 0;
  bool doubleBuffered = false;
  bool closing = false;  // set while Release runs
  // Contexts of one texture space share their GL objects: a texture name means the same texture in
  // each of them. Spaces are numbered from 1 and never reused.
  int textureSpace = 0;
};

// Lists the record under a new handle, first, and returns the handle. The first record arranges
// for every context still open to be closed at program end.
int AddGLContextRecord(std::unique_ptr<GLContextRecord> record);
// The first listed record that `match` accepts (newest first); nullptr when none does, and once
// the list is gone at program end.
GLContextRecord* FindGLContextRecord(const std::function<bool(const GLContextRecord&)>& match);
GLContextRecord* FindGLContextRecord(int handle);
// True once the list has been destroyed at program end: records released later find nothing.
bool GLContextListGone();

// A live record whose context a new context should share its objects with; nullptr when none.
GLContextRecord* GLShareCandidate();
// A texture space for a context that shares with no other.
int NewGLTextureSpace();

// The backend's part of GLMakeCurrent(0): no context current on the calling thread.
void ClearCurrentGLContext();

}  // namespace kiln
