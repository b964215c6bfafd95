// The whole export (verification, staging, flush to disk, commit) of the embedded payload into a
// game folder, against copying the same 59 files with cp followed by sync, as a ratio of medians;
// and the peak memory of the export next to that of merely reading every block, which shows that no
// block is copied into the heap.

#include <benchmark/benchmark.h>
#include <malloc.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/export.h"
#include "app/manifest.h"
#include "app/payload_blocks.h"
#include "bench/ratio_report.h"
#include "runtime/filesystem/filesystem.h"

namespace {

namespace fs = std::filesystem;

const fs::path kPayloadRoot = ZUNTO_PAYLOAD_ROOT;

std::vector<double> exportSeconds, copySeconds;

fs::path MakeGameFolder() {
  std::string pattern = (fs::temp_directory_path() / "zpatch-bench-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) std::abort();
  fs::path root = pattern;
  fs::create_directories(root / "Zunto_Data/XMLData/Spielzuege");
  fs::create_directories(root / "Zunto_Data/XMLData/SpielzuegeGast");
  std::FILE* f = std::fopen((root / "Vellmora.exe").c_str(), "wb");
  std::fclose(f);
  return root;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

void BM_ExportPayload(benchmark::State& state) {
  zunto::RegisterPayloadResources();
  kiln::InitFileSystemModule();
  const fs::path previous = fs::current_path();
  for (auto _ : state) {
    state.PauseTiming();
    const fs::path root = MakeGameFolder();
    fs::current_path(root);
    state.ResumeTiming();
    auto start = std::chrono::steady_clock::now();
    if (zunto::ExportPayload() != 0) state.SkipWithError("export failed");
    exportSeconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    state.PauseTiming();
    fs::current_path(previous);
    fs::remove_all(root);
    state.ResumeTiming();
  }
  state.SetBytesProcessed(state.iterations() * (16197042 - 257485 - 773236));
}
BENCHMARK(BM_ExportPayload)->Unit(benchmark::kMillisecond)->Iterations(5)->Repetitions(3);

void BM_CopyWithCpAndSync(benchmark::State& state) {
  const fs::path data = kPayloadRoot / "data";
  for (auto _ : state) {
    state.PauseTiming();
    const fs::path root = MakeGameFolder();
    std::string top;
    for (int index : zunto::ExportOrder()) {
      const std::string name = zunto::PayloadManifest()[static_cast<size_t>(index)].resource;
      if (zunto::PlaySetFolderOf(name.c_str()).IsEmpty()) top += " '" + (data / name.substr(7)).string() + "'";
    }
    const std::string command = "cp" + top + " '" + root.string() + "/' && cp '" + (data / "Spielzuege").string() +
                                "'/*.xml '" + (root / "Zunto_Data/XMLData/Spielzuege").string() + "/' && cp '" +
                                (data / "SpielzuegeGast").string() + "'/*.xml '" +
                                (root / "Zunto_Data/XMLData/SpielzuegeGast").string() + "/' && sync";
    state.ResumeTiming();
    auto start = std::chrono::steady_clock::now();
    if (std::system(command.c_str()) != 0) state.SkipWithError("cp failed");
    copySeconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    state.PauseTiming();
    fs::remove_all(root);
    state.ResumeTiming();
  }
  state.SetBytesProcessed(state.iterations() * (16197042 - 257485 - 773236));
}
BENCHMARK(BM_CopyWithCpAndSync)->Unit(benchmark::kMillisecond)->Iterations(5)->Repetitions(3);

// Peak resident memory of a child that registers the payload and then runs `work`. Both children
// touch every page of every block, so the difference is what the work itself allocates.
long PeakKilobytes(bool exportToo, long& heapInUse) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return -1;
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    zunto::RegisterPayloadResources();
    kiln::InitFileSystemModule();
    uLong crc = 0;
    for (size_t i = 0; i < zunto::PayloadManifest().size(); ++i) {
      const zunto::EmbeddedBlock& b = zunto::kPayloadBlocks[i];
      crc = crc32(crc, b.begin, static_cast<uInt>(b.end - b.begin));
    }
    long heap = 0;
    if (exportToo) {
      const fs::path root = MakeGameFolder();
      fs::current_path(root);
      if (zunto::ExportPayload() != 0) _exit(1);
      fs::current_path("/");
      fs::remove_all(root);
    }
    heap = static_cast<long>(mallinfo2().uordblks + mallinfo2().hblkhd);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    long out[3] = {usage.ru_maxrss, heap, static_cast<long>(crc & 1)};
    if (write(pipeFds[1], out, sizeof out) != sizeof out) _exit(2);
    _exit(0);
  }
  close(pipeFds[1]);
  long in[3] = {-1, -1, 0};
  if (read(pipeFds[0], in, sizeof in) != sizeof in) in[0] = -1;
  close(pipeFds[0]);
  waitpid(pid, nullptr, 0);
  heapInUse = in[1];
  return in[0];
}

}  // namespace

int main(int argc, char** argv) {
  const int code = kiln::bench::RunWithRatios(argc, argv, {{"BM_ExportPayload", "BM_CopyWithCpAndSync"}});
  if (code != 0) return code;
  const double exportMedian = Median(exportSeconds), copyMedian = Median(copySeconds);
  std::printf("\nexport median %.1f ms, cp+sync median %.1f ms, ratio export/cp+sync %.2f\n", exportMedian * 1e3,
              copyMedian * 1e3, copyMedian > 0 ? exportMedian / copyMedian : 0.0);
  long heapRead = 0, heapExport = 0;
  const long readPeak = PeakKilobytes(false, heapRead);
  const long exportPeak = PeakKilobytes(true, heapExport);
  std::printf("peak RSS reading every block %ld KiB, exporting %ld KiB (+%ld KiB); heap in use after export %ld KiB; "
              "largest block %d KiB\n",
              readPeak, exportPeak, exportPeak - readPeak, heapExport / 1024, 9608145 / 1024);
  return 0;
}
