#include "tests/app/game_folder_fixture.h"

#include <zlib.h>

#include "app/export.h"
#include "app/manifest.h"
#include "app/staged_update.h"
#include "runtime/core/runtime.h"
#include "runtime/filesystem/file_commit.h"
#include "runtime/filesystem/filesystem.h"
#include "runtime/stream/resources.h"

namespace zunto::test {
namespace {

namespace fs = std::filesystem;

// A path in UTF-8 with "/" between its parts, on every platform.
std::string GenericUtf8(const fs::path& path) {
  const std::u8string bytes = path.generic_u8string();
  return std::string(bytes.begin(), bytes.end());
}

std::vector<std::string>& Blocks() {
  static std::vector<std::string> blocks = [] {
    std::vector<std::string> made;
    for (size_t i = 0; i < PayloadManifest().size(); ++i) {
      const std::string name = PayloadManifest()[i].resource;
      size_t size = 37 + (i * 613) % 3000;
      if (name == "./data/Vellmora_DirectX_Debug.bat") size = 0;
      if (name == "./data/Zunto.exe") size = 3 * 4096 + 17;
      std::string bytes(size, '\0');
      for (size_t k = 0; k < size; ++k) bytes[k] = static_cast<char>((k * 31 + i * 7 + (k >> 8)) & 0xFF);
      made.push_back(bytes);
    }
    return made;
  }();
  return blocks;
}

std::vector<uint32_t>& Checksums() {
  static std::vector<uint32_t> sums;
  return sums;
}

}  // namespace

std::map<std::string, std::string> Snapshot(const fs::path& root) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const std::string relative = GenericUtf8(entry.path().lexically_relative(root));
    std::string& shown = files[relative];
    std::error_code broken;  // a link that leads nowhere
    if (entry.is_symlink()) shown = "<link to " + GenericUtf8(fs::read_symlink(entry.path())) + "> ";
    if (entry.is_directory(broken))
      shown += "<dir>";
    else if (entry.is_regular_file(broken))
      shown += kiln::test::ReadFileBytes(entry.path());
    else if (!entry.is_symlink())
      shown = "<special>";
  }
  return files;
}

void MakeGameFolder(const fs::path& root) {
  fs::create_directories(root / "Zunto_Data/XMLData/Spielzuege");
  fs::create_directories(root / "Zunto_Data/XMLData/SpielzuegeGast");
  kiln::test::WriteFileBytes(root / "Vellmora.exe", "installed game executable");
}

const std::string& TestBlock(int index) { return Blocks()[static_cast<size_t>(index)]; }

void RegisterTestPayload() {
  kiln::InitFileSystemModule();
  static bool done = false;
  if (done) return;
  done = true;
  static const char emptyBlock[1] = {0};
  for (size_t i = 0; i < PayloadManifest().size(); ++i) {
    const std::string& bytes = Blocks()[i];
    const void* data = bytes.empty() ? static_cast<const void*>(emptyBlock) : bytes.data();
    kiln::AddEmbeddedResource(PayloadManifest()[i].resource, data, static_cast<int32_t>(bytes.size()));
    Checksums().push_back(static_cast<uint32_t>(
        crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size()))));
  }
  SetPayloadChecksums(Checksums());
}

void FlipTestBlockBit(int index, size_t bit) {
  std::string& bytes = Blocks()[static_cast<size_t>(index)];
  bytes[bit / 8] = static_cast<char>(bytes[bit / 8] ^ (1 << (bit % 8)));
}

std::vector<ExpectedFile> ExportedFiles() {
  std::vector<ExpectedFile> files;
  for (int index : ExportOrder()) {
    files.push_back({ExportDestination(PayloadManifest()[static_cast<size_t>(index)].resource).ToUtf8(), index});
  }
  return files;
}

void GameFolderTest::SetUp() {
  RegisterTestPayload();
  dir_ = std::make_unique<kiln::test::TempDir>();
  MakeGameFolder(Root());
  previous_ = fs::current_path();
  fs::current_path(Root());
}

void GameFolderTest::TearDown() {
  fs::current_path(previous_);
  SetStagingOpenerForTesting(nullptr);
  SetStagingProbeForTesting(nullptr);
  StagedUpdate::SetCommitProbeForTesting(nullptr);
  StagedUpdate::SetCleanUpProbeForTesting(nullptr);
  SetLockWaitForTesting(std::chrono::seconds(60));
  kiln::filecommit::SetLockThroughFileForTesting(false);
  kiln::SetDebugLineHook(nullptr);
  kiln::filecommit::SetDiskSyncForTesting(true);
  dir_.reset();
}

void GameFolderTest::ExpectFullyPatched() {
  for (const ExpectedFile& file : ExportedFiles()) {
    EXPECT_EQ(kiln::test::ReadFileBytes(Root() / file.destination), TestBlock(file.manifestIndex)) << file.destination;
  }
}

}  // namespace zunto::test
