// Fuzzes the export of one damaged payload block: the input stands in for the block's bytes, whose
// checksum the build recorded from the sound block. The export must succeed exactly when the bytes
// match, and otherwise leave the destination as it was with nothing else written beside it. The
// export writes below the current directory, so the target works in a folder of its own: give
// libFuzzer absolute corpus paths (tools/run_fuzz.sh does).
#include <stdlib.h>
#include <unistd.h>
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/export.h"
#include "app/manifest.h"
#include "fuzz/fuzz_input.h"
#include "runtime/filesystem/filesystem.h"
#include "runtime/stream/resources.h"
#include "runtime/stream/stream_module.h"

namespace {

namespace fs = std::filesystem;

const std::string kSoundBlock = "The sound block of the first manifest entry.\r\n";
const std::string kOldBytes = "installed";
const char* kDestination = "./destination.bin";

using kiln::fuzz::Check;

std::string Read(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void Write(const char* path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

size_t EntriesHere() { return static_cast<size_t>(std::distance(fs::directory_iterator("."), fs::directory_iterator())); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const kiln::Text source = [] {
    kiln::InitStreamModule();
    kiln::InitFileSystemModule();
    // A folder of its own, removed again at the end of the process.
    static std::string folder = (fs::temp_directory_path() / "kiln-fuzz-payload-XXXXXX").string();
    Check(mkdtemp(folder.data()) != nullptr && chdir(folder.c_str()) == 0);
    std::atexit([] { fs::remove_all(folder); });
    const kiln::Text name = zunto::PayloadManifest()[0].resource;
    kiln::AddEmbeddedResource(name, kSoundBlock.data(), static_cast<int32_t>(kSoundBlock.size()));
    kiln::TStreamFactory::Register(kiln::MakeRef<kiln::fuzz::InputFactory>(kiln::Text("incbin"), name));
    static std::vector<uint32_t> checksums(zunto::PayloadManifest().size(), 0);
    checksums[0] = static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(kSoundBlock.data()), kSoundBlock.size()));
    zunto::SetPayloadChecksums(checksums);
    return name;
  }();
  kiln::fuzz::CurrentInput::data = data;
  kiln::fuzz::CurrentInput::size = size;
  Write(kDestination, kOldBytes);

  const bool sound = std::string(reinterpret_cast<const char*>(data), size) == kSoundBlock;
  const int result = zunto::ExportResourceFile(source, kiln::Text(kDestination));
  // Equal checksums of unequal bytes are possible but never met by chance.
  Check((result == 0) == sound);
  Check(Read(kDestination) == (sound ? kSoundBlock : kOldBytes));
  Check(EntriesHere() == 1);
  return 0;
}
