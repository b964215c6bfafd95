// What the export tests share: old files to roll back to, the failure as the player reads it, and
// the check for files a run left behind.
#pragma once

#include <filesystem>
#include <map>
#include <string>

#include "app/export.h"
#include "app/status_texts.h"
#include "tests/app/game_folder_fixture.h"

namespace zunto::test {

// Some destinations exist with old contents, so that a rollback has originals to restore and new
// files to remove.
inline void InstallOldFiles(const std::filesystem::path& root) {
  int n = 0;
  for (const ExpectedFile& file : ExportedFiles()) {
    if (n++ % 2 == 0) kiln::test::WriteFileBytes(root / file.destination, "old contents of " + file.destination);
  }
}

// The player's lines for the last failure, in UTF-8, one per line.
inline std::string PlayerLines() {
  std::string lines;
  for (const kiln::Text& line : FailureLines(LastPatchFailure())) lines += line.ToUtf8() + "\n";
  return lines;
}

// The failure's cause and the player's lines, in the form a child process also leaves for its parent.
inline std::string FailureReport() {
  return std::to_string(static_cast<int>(LastPatchFailure().cause)) + "\n" + PlayerLines();
}
inline std::string FailureReport(FailureCause cause, const std::string& lines) {
  return std::to_string(static_cast<int>(cause)) + "\n" + lines;
}

inline constexpr const char* kUnchanged = "Es wurden keine Dateien verändert.\n";

inline bool HasLeftovers(const std::map<std::string, std::string>& files) {
  for (const auto& [name, bytes] : files) {
    if (name.find("zpatch") != std::string::npos) return true;
  }
  return false;
}

// One fixture type for the export tests of every file: GoogleTest refuses a test suite whose tests
// use different fixture classes.
class ExportTest : public GameFolderTest {};

}  // namespace zunto::test
