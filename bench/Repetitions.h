#pragma once
// Repeated benchmarks whose repetitions alternate with those of their references, so that each
// benchmark and its reference see the same machine load; each reports its minimum, median and
// maximum over the repetitions.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <string>
#include <vector>

namespace bench {

/// Fifteen repetitions in microseconds, reported as mean, median, minimum and maximum.
inline void minMedianMax(benchmark::internal::Benchmark* b) {
  b->Unit(benchmark::kMicrosecond)
      ->Repetitions(15)
      ->ReportAggregatesOnly(true)
      ->ComputeStatistics("min", [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); })
      ->ComputeStatistics("max", [](const std::vector<double>& v) { return *std::max_element(v.begin(), v.end()); });
}

/// A benchmark program's main: runs the registered benchmarks with their repetitions interleaved.
inline int runInterleaved(int argc, char** argv) {
  std::vector<char*> args(argv, argv + argc);
  std::string interleave = "--benchmark_enable_random_interleaving=true";
  args.insert(args.begin() + 1, interleave.data());
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

}  // namespace bench
