#include "runtime/stream/stream_module.h"

#include "runtime/core/run_once.h"
#include "runtime/core/runtime.h"
#include "runtime/stream/endian_stream.h"
#include "runtime/stream/ram_stream.h"

namespace kiln {

void InitStreamModule() {
  RunOnce([] {
    InitCoreModule();
    // Created in this order, so asked in the reverse one.
    TStreamFactory::Register(MakeRef<TRamStreamFactory>());
    TStreamFactory::Register(MakeRef<TXEndianStreamFactory>());
  });
}

}  // namespace kiln
