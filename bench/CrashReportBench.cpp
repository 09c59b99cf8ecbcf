// Time from a fault to the last byte of its crash report on disk, in a process of 20 threads.
// Goal: under 250 us.
//
// Each iteration starts the crash child twice, alternately: once with the crash recorder, once as
// the reference, the same process whose fault goes to a plain handler that writes 64 KiB,
// prepared beforehand, in one call. In both the fault comes once the recorder's preparation at
// normal time (thread names, loaded images, symbol tables, done on its own thread after install)
// is over, as it is for nearly all of an app's life. The child notes the wall-clock time just
// before it faults; the benchmark notes the time at which the report file is closed after
// writing (inotify). So both sides pay the same start of the signal and the same wake-up of this
// process, and the reference shows the floor of the measurement. The recorder's side also waits
// for its 19 other threads to be scheduled into their stop handler, which on a loaded machine
// dominates it. The manual time is the recorder's; the counters give min, median and max of both
// sides in microseconds, how many times the reference's median ours is, and the report's size.
// On a machine whose reference alone is well above the goal, the aim is ours under 4 times it.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

struct CrashRun {
  double microseconds;
  double reportBytes;
};

// Runs the child's scenario once in a fresh folder; none when it wrote no report.
std::optional<CrashRun> runCrash(const fs::path& folder, const char* scenario) {
  fs::remove_all(folder);
  fs::create_directories(folder / "Reports");
  const int watch = inotify_init1(IN_CLOEXEC);
  inotify_add_watch(watch, (folder / "Reports").c_str(), IN_CLOSE_WRITE);
  std::string scenarioArgument = scenario;
  std::string path = folder.string();
  std::string program = CRASH_CHILD;
  char* argv[] = {program.data(), scenarioArgument.data(), path.data(), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const bool started = posix_spawn(&pid, CRASH_CHILD, &actions, nullptr, argv, environ) == 0;
  posix_spawn_file_actions_destroy(&actions);
  if (!started) {
    close(watch);
    return std::nullopt;
  }
  // The report file is closed once, after its last byte.
  alignas(inotify_event) char events[4096];
  const bool closed = read(watch, events, sizeof(events)) > 0;
  timespec written{};
  clock_gettime(CLOCK_REALTIME, &written);
  close(watch);
  int status = 0;
  waitpid(pid, &status, 0);

  std::ifstream faultFile(folder / "fault-time");
  long long faultNanoseconds = 0;
  faultFile >> faultNanoseconds;
  fs::path report;
  for (const auto& entry : fs::directory_iterator(folder / "Reports")) {
    if (entry.is_regular_file()) report = entry.path();
  }
  struct stat info {};
  if (!closed || faultNanoseconds == 0 || report.empty() || stat(report.c_str(), &info) != 0) return std::nullopt;
  const long long writtenNanoseconds = static_cast<long long>(written.tv_sec) * 1000000000LL + written.tv_nsec;
  return CrashRun{static_cast<double>(writtenNanoseconds - faultNanoseconds) / 1e3, static_cast<double>(info.st_size)};
}

// Adds the side's min, median and max; returns the median (0 without figures).
double addFigures(benchmark::State& state, const char* side, std::vector<double> times) {
  if (times.empty()) return 0;
  std::sort(times.begin(), times.end());
  const std::string prefix = side;
  state.counters[prefix + "_min_us"] = times.front();
  state.counters[prefix + "_median_us"] = times[times.size() / 2];
  state.counters[prefix + "_max_us"] = times.back();
  return times[times.size() / 2];
}

void BM_FaultToReportOnDisk(benchmark::State& state) {
  const fs::path folder = fs::temp_directory_path() / ("crash-bench-" + std::to_string(getpid()));
  std::vector<double> recorder;
  std::vector<double> reference;
  double reportBytes = 0;
  for (auto _ : state) {
    const std::optional<CrashRun> ours = runCrash(folder, "twenty-threads");
    const std::optional<CrashRun> floor = runCrash(folder, "reference-twenty-threads");
    if (!ours || !floor) {
      state.SkipWithError("no report");
      break;
    }
    state.SetIterationTime(ours->microseconds / 1e6);
    recorder.push_back(ours->microseconds);
    reference.push_back(floor->microseconds);
    reportBytes = ours->reportBytes;
  }
  const double ours = addFigures(state, "recorder", recorder);
  const double floor = addFigures(state, "reference", reference);
  // How many times the reference's median ours is: the reference is the floor of this machine's
  // measurement, so this is what compares across machines and loads.
  if (floor > 0) state.counters["recorder_over_reference"] = ours / floor;
  state.counters["report_bytes"] = reportBytes;
  fs::remove_all(folder);
}

BENCHMARK(BM_FaultToReportOnDisk)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(40);

}  // namespace
