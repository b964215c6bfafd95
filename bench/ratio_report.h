// The benchmarks' one way of reporting: Google Benchmark's console output, then each figure as a
// ratio against its reference measured in the same run.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace kiln::bench {

// A benchmark and the reference it is compared with, by name ("BM_Jpeg640x480_PixmapFromUrl"; the
// function's name also stands for "BM_X/iterations:5/repeats:3").
using RatioPair = std::pair<std::string, std::string>;

// Runs the benchmarks the command line selects, then prints for each pair whose two sides ran
//   ratio <benchmark> / <reference> = <real time ratio> (cpu <cpu time ratio>)
// and the ratio of every plain counter (not a rate) both sides report; then, for a benchmark that compares with its
// reference inside one run, each of its counters named ratio_*. With repetitions the medians are
// compared. Returns main's exit code.
int RunWithRatios(int argc, char** argv, const std::vector<RatioPair>& pairs);

}  // namespace kiln::bench
