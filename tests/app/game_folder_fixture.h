// Temporary game folders, test payload blocks and folder snapshots for the patch program's tests.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace zunto::test {

// Every file below `root` (hidden ones included) by relative path (UTF-8, "/" between its parts on
// every platform), with its bytes; folders map to "<dir>", a symbolic link to "<link to TARGET> "
// and what it leads to, anything else to "<special>". Two equal snapshots mean the tree is byte for byte the same.
std::map<std::string, std::string> Snapshot(const std::filesystem::path& root);

// Creates the installed-game layout: Vellmora.exe and the two play-set folders.
void MakeGameFolder(const std::filesystem::path& root);

// The bytes a test registers for manifest entry `index`: small, distinct blocks; one is empty and
// one spans several copy buffers.
const std::string& TestBlock(int index);
// Registers the test blocks under the manifest names (once per process) and their checksums.
void RegisterTestPayload();
// Makes one bit of a registered test block wrong, or right again.
void FlipTestBlockBit(int index, size_t bit);

struct ExpectedFile {
  std::string destination;  // relative to the game folder, "./..."
  int manifestIndex;
};
// The 59 exported files in export order.
std::vector<ExpectedFile> ExportedFiles();

// A game folder made current for the test; the old current directory comes back afterwards.
class GameFolderTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  const std::filesystem::path& Root() const { return dir_->Path(); }
  // Each of the 59 files holds its test block.
  void ExpectFullyPatched();

 private:
  std::unique_ptr<kiln::test::TempDir> dir_;
  std::filesystem::path previous_;
};

// Children of the patch program's tests, with the resource limits and the user they need.
using kiln::test::CanRunUnprivileged;
using kiln::test::RunInChild;

}  // namespace zunto::test
