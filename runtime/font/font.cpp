#include "runtime/font/font.h"

#include "runtime/core/registry.h"
#include "runtime/core/run_once.h"
#include "runtime/core/runtime.h"

namespace kiln {
namespace {

Registry<TFontLoader, &TFontLoader::_succ> fontLoaderHead;

}  // namespace

// The walk also catches the last loader of the list, whose _succ is empty: linking it again would
// make it its own successor.
void AddFontLoader(const Ref<TFontLoader>& loader) {
  if (!loader || loader->_succ || fontLoaderHead.Contains(loader.Get())) return;
  fontLoaderHead.PushFront(loader);
}

Ref<TFont> FontFromLoaders(const Url& source, int size, int style) {
  return fontLoaderHead.FirstAnswer(
      [&](TFontLoader& loader) { return loader.LoadFont(source, size, style); });
}

void InitFontModule() {
  RunOnce([] {
    InitCoreModule();
  });
}

}  // namespace kiln
