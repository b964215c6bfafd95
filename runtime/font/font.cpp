#include "runtime/font/font.h"

#include "runtime/core/runtime.h"

namespace kiln {
namespace {

// Newest loader first; loaders stay linked until the process ends.
Ref<TFontLoader> fontLoaderHead;

bool IsLinked(const TFontLoader* loader) {
  for (const TFontLoader* l = fontLoaderHead.Get(); l != nullptr; l = l->_succ.Get()) {
    if (l == loader) return true;
  }
  return false;
}

}  // namespace

// The walk also catches the last loader of the list, whose _succ is empty: linking it again would
// make it its own successor.
void AddFontLoader(const Ref<TFontLoader>& loader) {
  if (!loader || loader->_succ || IsLinked(loader.Get())) return;
  loader->_succ = fontLoaderHead;
  fontLoaderHead = loader;
}

Ref<TFont> FontFromLoaders(const Url& source, int size, int style) {
  for (Ref<TFontLoader> loader = fontLoaderHead; loader; loader = loader->_succ) {
    if (Ref<TFont> font = loader->LoadFont(source, size, style)) return font;
  }
  return {};
}

void InitFontModule() {
  static bool done = false;
  if (done) return;
  done = true;
  InitCoreModule();
}

}  // namespace kiln
