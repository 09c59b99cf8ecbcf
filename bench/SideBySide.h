#pragma once
// Runs a piece of work and its references in the same benchmark, alternating, so that they share
// the machine's state (caches, frequency, other load) and are compared fairly. Each side is timed
// on its own in every iteration; the starting side rotates. The counters give, per side, the
// minimum, median and maximum in milliseconds, and for each reference how many times the first
// side's median its median is ("<name>_x": above 1 means the first side is faster).

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace bench {

struct Side {
  std::string name;
  /// Does the work once; gives an error text, empty on success.
  std::function<std::string()> run;
};

inline void runSideBySide(benchmark::State& state, const std::vector<Side>& sides) {
  std::vector<std::vector<double>> samples(sides.size());
  std::size_t round = 0;
  for (auto _ : state) {
    for (std::size_t k = 0; k < sides.size(); ++k) {
      const std::size_t i = (round + k) % sides.size();
      const auto start = std::chrono::steady_clock::now();
      const std::string error = sides[i].run();
      const auto stop = std::chrono::steady_clock::now();
      if (!error.empty()) {
        state.SkipWithError((sides[i].name + ": " + error).c_str());
        return;
      }
      samples[i].push_back(std::chrono::duration<double, std::milli>(stop - start).count());
    }
    ++round;
  }
  double firstMedian = 0;
  for (std::size_t i = 0; i < sides.size(); ++i) {
    std::vector<double>& s = samples[i];
    if (s.empty()) return;
    std::sort(s.begin(), s.end());
    const double median = s.size() % 2 ? s[s.size() / 2] : (s[s.size() / 2 - 1] + s[s.size() / 2]) / 2;
    state.counters[sides[i].name + "_min"] = s.front();
    state.counters[sides[i].name + "_med"] = median;
    state.counters[sides[i].name + "_max"] = s.back();
    if (i == 0) {
      firstMedian = median;
    } else if (firstMedian > 0) {
      state.counters[sides[i].name + "_x"] = median / firstMedian;
    }
  }
}

}  // namespace bench
