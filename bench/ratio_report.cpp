#include "bench/ratio_report.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>

namespace kiln::bench {
namespace {

struct Figures {
  double realSeconds = 0;
  double cpuSeconds = 0;
  benchmark::UserCounters counters;
  bool median = false;
};

// Console output as usual; keeps each benchmark's figures per iteration, the median when there is one.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      if (run.run_type == Run::RT_Aggregate && !median) continue;
      const std::string name = run.run_name.str();
      Figures& f = figures_[name];
      if (f.median && !median) continue;
      const double unit = benchmark::GetTimeUnitMultiplier(run.time_unit);
      f = Figures{run.GetAdjustedRealTime() / unit, run.GetAdjustedCPUTime() / unit, run.counters, median};
      if (run.run_name.function_name != name) aliases_[run.run_name.function_name] = name;
    }
  }

  void PrintRatio(const RatioPair& pair) const {
    const Figures* a = Find(pair.first);
    const Figures* b = Find(pair.second);
    if (a == nullptr || b == nullptr || b->realSeconds <= 0 || b->cpuSeconds <= 0) return;
    std::printf("ratio %-34s / %-34s = %.2f (cpu %.2f)\n", pair.first.c_str(), pair.second.c_str(),
                a->realSeconds / b->realSeconds, a->cpuSeconds / b->cpuSeconds);
    // Rates (bytes per second) only say again what the times say.
    for (const auto& [name, counter] : a->counters) {
      if (counter.flags != benchmark::Counter::kDefaults) continue;
      auto reference = b->counters.find(name);
      if (reference == b->counters.end() || reference->second.value == 0) continue;
      std::printf("ratio %-34s / %-34s = %.2f (%s)\n", pair.first.c_str(), pair.second.c_str(),
                  counter.value / reference->second.value, name.c_str());
    }
  }

  void PrintInnerRatios() const {
    for (const auto& [benchmark, f] : figures_) {
      for (const auto& [name, counter] : f.counters) {
        if (name.rfind("ratio_", 0) == 0) {
          std::printf("ratio %-34s %-34s = %.2f\n", benchmark.c_str(), name.c_str(), counter.value);
        }
      }
    }
  }

 private:
  const Figures* Find(const std::string& name) const {
    auto alias = aliases_.find(name);
    auto it = figures_.find(alias != aliases_.end() ? alias->second : name);
    return it != figures_.end() ? &it->second : nullptr;
  }

  std::map<std::string, Figures> figures_;
  // A benchmark's function name ("BM_X") for its full name ("BM_X/iterations:5/repeats:3").
  std::map<std::string, std::string> aliases_;
};

}  // namespace

int RunWithRatios(int argc, char** argv, const std::vector<RatioPair>& pairs) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  for (const RatioPair& pair : pairs) reporter.PrintRatio(pair);
  reporter.PrintInnerRatios();
  benchmark::Shutdown();
  return 0;
}

}  // namespace kiln::bench
