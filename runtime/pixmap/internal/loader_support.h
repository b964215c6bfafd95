// Pieces shared by the picture format modules: their run-once registration, short reads at the
// start of a picture, keeping C++ exceptions out of C library callbacks, and the savers' stream
// handling. Not part of the pixmap module's interface.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>

#include "runtime/core/run_once.h"
#include "runtime/pixmap/pixmap_loader.h"
#include "runtime/pixmap/pixmap_module.h"
#include "runtime/stream/stream.h"
#include "runtime/stream/url.h"

namespace kiln {

// A format module's initialiser: the pixmap module first, then the module's one loader, once.
template <class Loader>
void RegisterLoaderOnce() {
  RunOnce([] {
    InitPixmapModule();
    TPixmapLoader::Register(MakeRef<Loader>());
  });
}

// Reads up to `count` bytes, stopping early only at the end of the stream.
int ReadUpTo(TStream& stream, uint8_t* buffer, int count);

// Runs `body` where an exception must not cross (a callback called from C): false, with the exception
// kept in `pending` for the caller to throw once the C library's structures are released, when it threw.
template <class Body>
bool KeepException(std::exception_ptr& pending, Body&& body) noexcept {
  try {
    body();
    return true;
  } catch (...) {
    pending = std::current_exception();
    return false;
  }
}

// Opens `url` for writing and hands the stream to `encode`, which returns false when its coder
// failed. 1 when the picture was encoded and the stream closed cleanly; 0 when the URL cannot be
// opened for writing, the coder failed, or a write, flush or the close raised a stream exception.
// Any other exception closes the stream and travels on.
int SaveToUrl(const Url& url, const std::function<bool(TStream&)>& encode);

}  // namespace kiln
