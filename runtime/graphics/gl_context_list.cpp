#include "runtime/graphics/internal/gl_context_list.h"

#include <algorithm>
#include <vector>

#include "runtime/core/runtime.h"

namespace kiln {
namespace {

// Set once the list has been destroyed at program end; contexts released after that (by objects
// destroyed later) have nothing left to close.
bool listGone = false;

struct ContextList {
  ~ContextList() { listGone = true; }
  // Newest first.
  std::vector<std::unique_ptr<GLContextRecord>> records;
  GLContextRecord* current = nullptr;
  int lastSwapInterval = -1;
  int nextHandle = 1;
  int nextTextureSpace = 1;
  bool exitHandlerAdded = false;
};

ContextList& List() {
  static ContextList list;
  return list;
}

// Closes what is still open when the program ends, so the desktop mode comes back.
void CloseAllContexts() {
  ContextList& list = List();
  while (!list.records.empty()) GLCloseContext(list.records.front()->handle);
}

}  // namespace

int AddGLContextRecord(std::unique_ptr<GLContextRecord> record) {
  ContextList& list = List();
  if (!list.exitHandlerAdded) {
    list.exitHandlerAdded = true;
    AddExitHandler(&CloseAllContexts);
  }
  record->handle = list.nextHandle++;
  if (list.nextHandle <= 0) list.nextHandle = 1;
  const int handle = record->handle;
  list.records.insert(list.records.begin(), std::move(record));
  return handle;
}

GLContextRecord* FindGLContextRecord(const std::function<bool(const GLContextRecord&)>& match) {
  if (listGone) return nullptr;
  for (auto& record : List().records) {
    if (match(*record)) return record.get();
  }
  return nullptr;
}

GLContextRecord* FindGLContextRecord(int handle) {
  if (handle == 0) return nullptr;
  return FindGLContextRecord([handle](const GLContextRecord& record) { return record.handle == handle; });
}

bool GLContextListGone() { return listGone; }

GLContextRecord* GLShareCandidate() {
  return FindGLContextRecord([](const GLContextRecord& record) { return !record.closing && record.textureSpace != 0; });
}

int NewGLTextureSpace() {
  ContextList& list = List();
  int space = list.nextTextureSpace++;
  if (list.nextTextureSpace <= 0) list.nextTextureSpace = 1;
  return space;
}

int GLCurrentTextureSpace() {
  if (listGone) return 0;
  GLContextRecord* current = List().current;
  return current != nullptr ? current->textureSpace : 0;
}

bool GLTextureSpaceLive(int space) {
  if (space == 0) return false;
  return FindGLContextRecord([space](const GLContextRecord& record) {
           return !record.closing && record.textureSpace == space;
         }) != nullptr;
}

void GLCloseContext(int handle) {
  GLContextRecord* record = FindGLContextRecord(handle);
  if (record == nullptr || record->closing) return;
  record->closing = true;
  ContextList& list = List();
  if (list.current == record) GLMakeCurrent(0);
  // The window ends while its record is still listed, so the window system's handling of its end
  // finds it; the hooks that handling runs may open or close other contexts meanwhile.
  record->Release();
  auto it = std::find_if(list.records.begin(), list.records.end(),
                         [record](const auto& listed) { return listed.get() == record; });
  if (it != list.records.end()) list.records.erase(it);
}

void GLMakeCurrent(int handle) {
  if (listGone) return;
  ContextList& list = List();
  GLContextRecord* record = FindGLContextRecord(handle);
  // A closing record is still listed while its window ends; selected by a hook meanwhile, it would
  // stay current after it is gone.
  if (record != nullptr && record->closing) record = nullptr;
  if (record == list.current) return;
  if (record != nullptr && !record->Activate()) record = nullptr;
  if (record == nullptr) ClearCurrentGLContext();
  list.current = record;
}

int GLCurrentContext() {
  if (listGone) return 0;
  GLContextRecord* current = List().current;
  return current != nullptr ? current->handle : 0;
}

void GLSwapContext(int sync) {
  if (listGone) return;
  ContextList& list = List();
  GLContextRecord* record = list.current;
  if (record == nullptr) return;
  const int interval = sync != 0 ? 1 : 0;
  if (interval != list.lastSwapInterval) {
    list.lastSwapInterval = interval;
    GLSetSwapInterval(interval);
  }
  if (!record->Present()) GLMakeCurrent(0);
}

int GLLastSwapInterval() { return listGone ? -1 : List().lastSwapInterval; }

bool GLContextSettings(int handle, int& width, int& height, int& depth, int& hertz, int& flags) {
  GLContextRecord* record = FindGLContextRecord(handle);
  if (record == nullptr) return false;
  if (record->mode == GLAttachedContext) record->RefreshSize();
  width = record->width;
  height = record->height;
  depth = record->depth;
  hertz = record->hertz;
  flags = record->flags;
  return true;
}

intptr_t GLContextWindow(int handle) {
  GLContextRecord* record = FindGLContextRecord(handle);
  return record != nullptr ? record->NativeWindow() : 0;
}

}  // namespace kiln
