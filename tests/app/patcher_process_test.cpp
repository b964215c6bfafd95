#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/game_folder.h"
#include "app/manifest.h"
#include "runtime/filesystem/filesystem.h"
#include "tests/app/game_folder_fixture.h"

namespace zunto::test {
namespace {

namespace fs = std::filesystem;
using kiln::test::ReadFileBytes;
using kiln::test::TempDir;

struct ProcessResult {
  int status = -1;
  std::string out, err;
};

// Starts the patcher copied into `folder`, from another working directory, optionally under a file
// size limit.
ProcessResult RunPatcherIn(const fs::path& folder, rlim_t fileSizeLimit = RLIM_INFINITY) {
  TempDir outputs;
  const fs::path exe = folder / "ZuntoPatcher";
  fs::copy_file(ZUNTO_PATCHER_EXE, exe, fs::copy_options::overwrite_existing);
  const std::string out = outputs / "out", err = outputs / "err";
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (o < 0 || e < 0 || dup2(o, 1) < 0 || dup2(e, 2) < 0 || chdir(outputs.Path().c_str()) != 0) _exit(97);
    rlimit limit{fileSizeLimit, fileSizeLimit};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(98);
    execl(exe.c_str(), exe.c_str(), static_cast<char*>(nullptr));
    _exit(99);
  }
  ProcessResult result;
  waitpid(pid, &result.status, 0);
  result.out = ReadFileBytes(out);
  result.err = ReadFileBytes(err);
  fs::remove(exe);
  return result;
}

class PatcherProcess : public ::testing::Test {
 protected:
  void SetUp() override { MakeGameFolder(game_.Path()); }
  TempDir game_;
};

TEST_F(PatcherProcess, PatchesItsOwnFolderWithTheEmbeddedPayload) {
  kiln::test::WriteFileBytes(game_.Path() / "Anleitung.pdf", std::string(5000000, 'o'));
  const ProcessResult run = RunPatcherIn(game_.Path());
  ASSERT_TRUE(WIFEXITED(run.status));
  EXPECT_EQ(WEXITSTATUS(run.status), 0) << run.err;
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "");
  for (const ExpectedFile& file : ExportedFiles()) {
    const std::string source = PayloadManifest()[static_cast<size_t>(file.manifestIndex)].resource;
    EXPECT_TRUE(ReadFileBytes(game_.Path() / file.destination) == ReadFileBytes(fs::path(ZUNTO_PAYLOAD_ROOT) / source.substr(2)))
        << file.destination;
  }
  EXPECT_EQ(Snapshot(game_.Path()).size(), 59u + 4u);  // and the three folders below Zunto_Data
}

TEST_F(PatcherProcess, WrongFolderWritesNothing) {
  const std::vector<std::pair<const char*, std::function<void(const fs::path&)>>> cases = {
      {"no game executable", [](const fs::path& g) { fs::remove(g / "Vellmora.exe"); }},
      {"a folder named like the game executable",
       [](const fs::path& g) { fs::remove(g / "Vellmora.exe"), fs::create_directory(g / "Vellmora.exe"); }},
  };
  for (const auto& [what, spoil] : cases) {
    SCOPED_TRACE(what);
    spoil(game_.Path());
    const auto before = Snapshot(game_.Path());
    const ProcessResult run = RunPatcherIn(game_.Path());
    ASSERT_TRUE(WIFEXITED(run.status));
    EXPECT_EQ(WEXITSTATUS(run.status), 0);
    EXPECT_EQ(Snapshot(game_.Path()), before);
  }
}

TEST_F(PatcherProcess, FailedExportReportsAndChangesNothing) {
  struct Case {
    const char* what;
    rlim_t limit;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"missing play-set folder", RLIM_INFINITY, "The folder ./Zunto_Data/XMLData/SpielzuegeGast does not exist"},
      {"file size limit", 1000000, "./Zunto.exe: Error writing to stream (File too large)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(game_.Path() / "Zunto_Data");
    MakeGameFolder(game_.Path());
    if (c.limit == RLIM_INFINITY) fs::remove(game_.Path() / "Zunto_Data/XMLData/SpielzuegeGast");
    const auto before = Snapshot(game_.Path());
    const ProcessResult run = RunPatcherIn(game_.Path(), c.limit);
    ASSERT_TRUE(WIFEXITED(run.status)) << "ended by signal " << WTERMSIG(run.status);
    EXPECT_EQ(WEXITSTATUS(run.status), 255);
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_EQ(Snapshot(game_.Path()), before);
  }
}

TEST(GameFolder, OnlyARegularFileMarksTheGameFolder) {
  kiln::InitFileSystemModule();
  TempDir dir;
  const fs::path previous = fs::current_path();
  fs::current_path(dir.Path());
  EXPECT_EQ(IsGameFolder(), 0);
  fs::create_directory("Vellmora.exe");
  EXPECT_EQ(IsGameFolder(), 0);
  fs::remove("Vellmora.exe");
  kiln::test::WriteFileBytes("vellmora.exe", "wrong case");
  EXPECT_EQ(IsGameFolder(), 0);
  kiln::test::WriteFileBytes("Vellmora.exe", "");
  EXPECT_EQ(IsGameFolder(), 1);
  fs::current_path(previous);
}

}  // namespace
}  // namespace zunto::test
