// The sampling profiler's costs.
// - One sampling pass over 20 running threads (each is interrupted by a signal and walks its own
//   stack in the handler), on the CPU clock of the sampling thread: the machine is shared, so wall
//   time mostly measures the wait for the threads to get a processor. The walks run on the sampled
//   threads, so their cost shows in the overhead figures below, not in the pass. The sampling
//   thread takes a pass in two halves, asking at one wake-up and taking the answers at the next,
//   and the benchmark does the same, an interval apart; the first pass, which also reads each
//   thread's name, priority and stack bounds, is given apart as "first_pass_cpu_us". Two
//   references: the same pass asked and waited for in one call ("PassWaitedFor"), and listing the
//   threads and reading each one's run state (open, read and close of its stat file), the pass
//   without parking. Each side sleeps an interval before its work, as the sampling thread does,
//   and its time column is the CPU of the work alone; repetitions of the three alternate.
// - A CPU-bound job (a fixed amount of arithmetic) with a real profile running (the sampler at
//   101 Hz feeding a profile's payload) and without, alternating round by round: the job's own
//   CPU and the whole process's CPU per job, each side's min, median and max, and the median of
//   the rounds' differences in percent, which is the overhead; also the sampler's CPU per wake-up.
//
// Run: build/release/bench/ProfilerBench   (goals: a pass under 300 us; overhead under 3%)

#include <benchmark/benchmark.h>

#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/Repetitions.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/Profiling/DozidiProfilePayload.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/Profiling/DozidiSamplingProfiler.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiTime.h"

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

// The sampling thread wakes once an interval, and its caches are cold by then on a shared
// machine; so each side here sleeps a sampling interval before its work, like the sampling
// thread, and reports its CPU for the work alone (the time column, with manual time).
constexpr std::chrono::nanoseconds kInterval{9'900'990};

// The pass as the sampling thread takes it: the answers are taken when the next pass begins, so
// the thread never sleeps to wait for them. Both halves are counted, not the interval between.
void BM_SamplingPassOver20RunningThreads(benchmark::State& state) {
  Spinners spinners(20);
  auto profiler = SamplingProfiler::create([](const Backtrace&) {}, 101);
  std::size_t sampled = 0;
  const SamplingProfiler::Callback count = [&sampled](const Backtrace& b) { sampled += b.addresses.empty() ? 0 : 1; };
  const double firstStart = threadCpuMicroseconds();
  profiler->samplePass(count);
  state.counters["first_pass_cpu_us"] = threadCpuMicroseconds() - firstStart;
  sampled = 0;
  for (auto _ : state) {
    const double start = threadCpuMicroseconds();
    profiler->beginPass(count);
    const double asked = threadCpuMicroseconds();
    std::this_thread::sleep_for(kInterval);
    const double woken = threadCpuMicroseconds();
    profiler->endPass(count);
    state.SetIterationTime((asked - start + threadCpuMicroseconds() - woken) / 1e6);
  }
  state.counters["sampled/pass"] = static_cast<double>(sampled) / static_cast<double>(state.iterations());
}

// The same pass asked and waited for in one call, after the interval: what a sampling thread
// that waits for the answers of each pass pays (the wait's sleep and wake-up included).
void BM_ReferencePassWaitedFor(benchmark::State& state) {
  Spinners spinners(20);
  auto profiler = SamplingProfiler::create([](const Backtrace&) {}, 101);
  const SamplingProfiler::Callback ignore = [](const Backtrace&) {};
  profiler->samplePass(ignore);
  for (auto _ : state) {
    std::this_thread::sleep_for(kInterval);
    const double start = threadCpuMicroseconds();
    profiler->samplePass(ignore);
    state.SetIterationTime((threadCpuMicroseconds() - start) / 1e6);
  }
}

// Listing the same threads and reading each one's run state (open, read and close of its stat
// file), after the interval: the pass without parking.
void BM_ReferenceListAndReadStates(benchmark::State& state) {
  Spinners spinners(20);
  std::vector<kernel::ThreadId> threads(1024);
  for (auto _ : state) {
    std::this_thread::sleep_for(kInterval);
    const double start = threadCpuMicroseconds();
    int listed = kernel::listThreads(threads.data(), static_cast<int>(threads.size()));
    int running = 0;
    for (int i = 0; i < listed; ++i) running += dozidi::profiling::isThreadRunning(threads[i]) ? 1 : 0;
    benchmark::DoNotOptimize(running);
    state.SetIterationTime((threadCpuMicroseconds() - start) / 1e6);
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

double processCpuMicroseconds() {
  timespec now{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e6 + static_cast<double>(now.tv_nsec) / 1e3;
}

struct Spread {
  double min, median, max;
};

Spread spreadOf(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  const double median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
  return {values.front(), median, values.back()};
}

// A 95% interval of the median that assumes nothing of the values' distribution: the order
// statistics n/2 -+ 0.98 sqrt(n) (the 14th and 27th of 40). Its width is how precisely a run
// gives the median, which is what the overhead goal is read against.
void reportMedianInterval(benchmark::State& state, const std::string& name, std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const double n = static_cast<double>(values.size());
  const double reach = 0.98 * std::sqrt(n);
  const auto low = static_cast<std::size_t>(std::max(0.0, std::floor(n / 2 - reach)));
  const auto high = static_cast<std::size_t>(std::min(n - 1, std::ceil(n / 2 + reach) - 1));
  state.counters[name + "_med_lo"] = values[low];
  state.counters[name + "_med_hi"] = values[high];
}

void reportSpread(benchmark::State& state, const std::string& name, const std::vector<double>& values) {
  const Spread s = spreadOf(values);
  state.counters[name + "_min"] = s.min;
  state.counters[name + "_med"] = s.median;
  state.counters[name + "_max"] = s.max;
}

// One job of a round, with the CPU it took on its own thread and in the whole process.
struct JobCost {
  double threadUs;
  double processUs;
};

JobCost timedJob() {
  const double process = processCpuMicroseconds();
  const double thread = threadCpuMicroseconds();
  benchmark::DoNotOptimize(cpuBoundJob());
  return {threadCpuMicroseconds() - thread, processCpuMicroseconds() - process};
}

// Each iteration is a round of two jobs, one while a profile runs and one without, in turns of
// which goes first. The profile is the real one: the sampler at 101 Hz hands each backtrace to the
// payload a profile builds. Its sampling starts before the job and waits for its first pass, which
// also reads the thread's identity, so the job sees the passes of a running profile. Per round:
// - the job's CPU on its own thread (what the signal handler's work adds to the profiled thread),
// - the whole process's CPU while the job runs (the sampler's passes as well),
// and over the rounds the medians of each side and of the rounds' own differences; a round's
// sides see nearly the same machine, so the difference of a round is the sharper figure.
void BM_CpuBoundJobProfiledAgainstAlone(benchmark::State& state) {
  auto payload = std::make_unique<DozidiProfilePayload>(getAbsoluteTime());
  DozidiProfilePayload* current = payload.get();
  auto profiler = SamplingProfiler::create([&current](const Backtrace& b) { current->processBacktrace(b); }, 101);
  std::vector<double> aloneThread, aloneProcess, profiledThread, profiledProcess;
  std::vector<double> threadAdded, processAdded, samplerPerWakeUp;
  std::size_t samples = 0;
  std::uint64_t wakeUps = 0;
  int round = 0;
  for (auto _ : state) {
    JobCost alone{}, profiled{};
    for (int side = 0; side < 2; ++side) {
      if ((side + round) % 2 == 0) {
        alone = timedJob();
        continue;
      }
      payload = std::make_unique<DozidiProfilePayload>(getAbsoluteTime());
      current = payload.get();
      profiler->startSampling();
      while (profiler->numSamples() < 2) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      const std::uint64_t before = profiler->numSamples();
      profiled = timedJob();
      const std::uint64_t during = profiler->numSamples() - before;
      profiler->stopSampling();
      samples += payload->sampleCount();
      wakeUps += during;
      if (during > 0) samplerPerWakeUp.push_back((profiled.processUs - profiled.threadUs) / static_cast<double>(during));
    }
    ++round;
    aloneThread.push_back(alone.threadUs / 1e3);
    aloneProcess.push_back(alone.processUs / 1e3);
    profiledThread.push_back(profiled.threadUs / 1e3);
    profiledProcess.push_back(profiled.processUs / 1e3);
    threadAdded.push_back(100.0 * (profiled.threadUs / alone.threadUs - 1));
    processAdded.push_back(100.0 * (profiled.processUs / alone.processUs - 1));
  }
  reportSpread(state, "alone_job_ms", aloneThread);
  reportSpread(state, "profiled_job_ms", profiledThread);
  reportSpread(state, "alone_process_ms", aloneProcess);
  reportSpread(state, "profiled_process_ms", profiledProcess);
  reportSpread(state, "job_added_pct", threadAdded);
  reportSpread(state, "process_added_pct", processAdded);
  reportMedianInterval(state, "job_added_pct", threadAdded);
  reportMedianInterval(state, "process_added_pct", processAdded);
  reportSpread(state, "sampler_us_per_wakeup", samplerPerWakeUp);
  state.counters["job_added_pct_of_medians"] =
      100.0 * (spreadOf(profiledThread).median / spreadOf(aloneThread).median - 1);
  state.counters["process_added_pct_of_medians"] =
      100.0 * (spreadOf(profiledProcess).median / spreadOf(aloneProcess).median - 1);
  state.counters["wake-ups/round"] = static_cast<double>(wakeUps) / static_cast<double>(round);
  state.counters["samples/round"] = static_cast<double>(samples) / static_cast<double>(round);
}

// A fixed count: the time measured is a small part of each iteration, which lasts an interval.
BENCHMARK(BM_SamplingPassOver20RunningThreads)->Apply(bench::minMedianMax)->UseManualTime()->Iterations(40);
BENCHMARK(BM_ReferencePassWaitedFor)->Apply(bench::minMedianMax)->UseManualTime()->Iterations(40);
BENCHMARK(BM_ReferenceListAndReadStates)->Apply(bench::minMedianMax)->UseManualTime()->Iterations(40);
// Forty rounds: the rounds' differences then give a median whose spread is well under the 3% goal.
BENCHMARK(BM_CpuBoundJobProfiledAgainstAlone)->Iterations(40)->Unit(benchmark::kMillisecond);

}  // namespace

// Repetitions of the benchmarks alternate, so that each and its reference see the same load.
int main(int argc, char** argv) { return bench::runInterleaved(argc, argv); }
