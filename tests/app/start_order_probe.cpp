// Runs the patch program in a process of its own and prints, when the export starts, the state that
// the start-up left, one "key: value" line each. It then runs the module initialisers a second time
// and prints the registries again: a module that initialises twice shows there. Started in a game
// folder without a display, the program ends after the export with its report.
#include <cstdio>
#include <string>
#include <typeinfo>
#include <vector>

#include "app/manifest.h"
#include "app/patcher.h"
#include "runtime/core/runtime.h"
#include "runtime/draw2d/gl_flat2d_driver.h"
#include "runtime/graphics/graphics.h"
#include "runtime/pixmap/pixmap_loader.h"
#include "runtime/stream/resources.h"
#include "runtime/stream/stream_factory.h"

namespace {

void Print(const char* key, const std::string& value) { std::printf("%s: %s\n", key, value.c_str()); }

template <typename T>
std::string TypesOf(kiln::Ref<T> head) {
  std::string types;
  for (kiln::Ref<T> item = head; item; item = item->Succ()) types += std::string(typeid(*item).name()) + " ";
  return types;
}

void PrintRegistries() {
  Print("pixmap loaders", TypesOf(kiln::PixmapLoaderHead()));
  Print("stream factories", TypesOf(kiln::StreamFactoryHead()));
  int count = 0;
  for (const kiln::EmbeddedResourceEntry* e = kiln::EmbeddedResourceHead(); e != nullptr; e = e->next) ++count;
  Print("resources", std::to_string(count));
}

void PrintState() {
  // The registry lists the newest first: the manifest, in its order, must be the oldest entries.
  std::vector<std::string> names;
  for (const kiln::EmbeddedResourceEntry* e = kiln::EmbeddedResourceHead(); e != nullptr; e = e->next) {
    names.insert(names.begin(), e->name.ToUtf8());
  }
  const auto manifest = zunto::PayloadManifest();
  bool first = names.size() >= manifest.size();
  for (size_t i = 0; first && i < manifest.size(); ++i) first = names[i] == manifest[i].resource;
  Print("manifest registered first", first ? "yes" : "no");
  std::string later;
  for (size_t i = first ? manifest.size() : 0; i < names.size(); ++i) later += names[i] + " ";
  Print("registered by the modules", later);
  Print("graphics driver", kiln::RefCast<kiln::TGLFlat2DDriver>(kiln::InstalledGraphicsDriver()) ? "GL 2D" : "other");
  Print("lazy init mask", std::to_string(zunto::LazyInitMask()));
  Print("window title", zunto::WindowTitleText().ToUtf8());
  Print("application title", kiln::ApplicationTitle().ToUtf8());
  const kiln::Ref<kiln::TImage>& background = zunto::BackgroundImage();
  Print("background", background ? std::to_string(background->width) + "x" + std::to_string(background->height) : "none");
  Print("font height", zunto::StatusFont() ? std::to_string(zunto::StatusFont()->Height()) : "none");
  PrintRegistries();
  zunto::InitRuntimeModules();
  PrintRegistries();
  std::fflush(stdout);
}

// The export announces every file on the debug-line channel.
void OnExportLine(const kiln::Text&) {
  static bool printed = false;
  if (printed) return;
  printed = true;
  PrintState();
}

int Entry() {
  kiln::SetDebugLineHook(OnExportLine);
  return zunto::PatcherStartStub();
}

}  // namespace

int main(int argc, char** argv) { return kiln::RuntimeMain(argc, argv, Entry); }
