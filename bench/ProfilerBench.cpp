// The sampling profiler's costs.
// - One sampling pass over 20 running threads (each is interrupted by a signal and walks its own
//   stack in the handler), on the CPU clock of the sampling thread: the machine is shared, so wall
//   time mostly measures the wait for the threads to get a processor. The walks now run on the
//   sampled threads, so their cost shows in the overhead figure below, not in the pass. The passes of a profile after its first are measured;
//   the first, which also reads each thread's name, priority and stack bounds, is given apart as
//   "first_pass_cpu_us". The reference lists the same threads and reads each one's run state
//   (open, read and close of its stat file): the pass without parking.
// - A CPU-bound job (a fixed amount of arithmetic) while the profiler samples every thread at
//   101 Hz, and the same job with no profiler: the ratio of their medians is the overhead.
// Repetitions alternate between each benchmark and its reference; min, median and max are printed.
//
// Run: build/release/bench/ProfilerBench   (goals: a pass under 300 us; overhead under 3%)

#include <benchmark/benchmark.h>

#include <time.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/Repetitions.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/Profiling/DozidiSamplingProfiler.h"

namespace {

using dozidi::profiling::Backtrace;
using dozidi::profiling::SamplingProfiler;

__attribute__((noinline)) void spin(const std::atomic<bool>* stop) {
  volatile std::uint64_t n = 0;
  while (!stop->load(std::memory_order_relaxed)) n = n + 1;
}

// Twenty threads that run until the benchmark ends; constructed once all of them run.
class Spinners {
 public:
  explicit Spinners(int count) {
    for (int i = 0; i < count; ++i) {
      threads_.emplace_back([this] {
        started_.fetch_add(1);
        spin(&stop_);
      });
    }
    while (started_.load() < count) std::this_thread::yield();
  }
  ~Spinners() {
    stop_ = true;
    for (auto& thread : threads_) thread.join();
  }

 private:
  std::atomic<bool> stop_{false};
  std::atomic<int> started_{0};
  std::vector<std::thread> threads_;
};

double threadCpuMicroseconds() {
  timespec now{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e6 + static_cast<double>(now.tv_nsec) / 1e3;
}

void BM_SamplingPassOver20RunningThreads(benchmark::State& state) {
  Spinners spinners(20);
  auto profiler = SamplingProfiler::create([](const Backtrace&) {}, 101);
  std::size_t sampled = 0;
  const SamplingProfiler::Callback count = [&sampled](const Backtrace& b) { sampled += b.addresses.empty() ? 0 : 1; };
  const double firstStart = threadCpuMicroseconds();
  profiler->samplePass(count);
  state.counters["first_pass_cpu_us"] = threadCpuMicroseconds() - firstStart;
  sampled = 0;
  for (auto _ : state) profiler->samplePass(count);
  state.counters["sampled/pass"] = static_cast<double>(sampled) / static_cast<double>(state.iterations());
}

void BM_ReferenceListAndReadStates(benchmark::State& state) {
  Spinners spinners(20);
  std::vector<kernel::ThreadId> threads(1024);
  for (auto _ : state) {
    int listed = kernel::listThreads(threads.data(), static_cast<int>(threads.size()));
    int running = 0;
    for (int i = 0; i < listed; ++i) running += dozidi::profiling::isThreadRunning(threads[i]) ? 1 : 0;
    benchmark::DoNotOptimize(running);
  }
}

volatile std::uint64_t gSeed = 88172645463325252ULL;

__attribute__((noinline)) std::uint64_t cpuBoundJob() {
  std::uint64_t x = gSeed;
  for (int i = 0; i < 20'000'000; ++i) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    benchmark::DoNotOptimize(x);
  }
  return x;
}

void BM_CpuBoundJobWhileProfiling(benchmark::State& state) {
  auto profiler = SamplingProfiler::create([](const Backtrace&) {}, 101);
  profiler->startSampling();
  for (auto _ : state) benchmark::DoNotOptimize(cpuBoundJob());
  profiler->stopSampling();
  state.counters["wake-ups"] = static_cast<double>(profiler->numSamples());
}

void BM_ReferenceCpuBoundJobAlone(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(cpuBoundJob());
}

BENCHMARK(BM_SamplingPassOver20RunningThreads)->Apply(bench::minMedianMax);
BENCHMARK(BM_ReferenceListAndReadStates)->Apply(bench::minMedianMax);
BENCHMARK(BM_CpuBoundJobWhileProfiling)->Apply(bench::minMedianMax)->MinTime(0.5);
BENCHMARK(BM_ReferenceCpuBoundJobAlone)->Apply(bench::minMedianMax)->MinTime(0.5);

}  // namespace

// Repetitions of the benchmarks alternate, so that each and its reference see the same load.
int main(int argc, char** argv) { return bench::runInterleaved(argc, argv); }
