#include "app/patcher.h"
#include "runtime/core/runtime.h"

int main(int argc, char** argv) { return kiln::RuntimeMain(argc, argv, zunto::PatcherStartStub); }
