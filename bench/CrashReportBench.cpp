// Time from a fault to the last byte of its crash report on disk, in a process of 20 threads.
// Each iteration starts the crash child, which notes the wall-clock time just before it faults;
// the benchmark notes the time at which the report file is closed after writing (inotify). Goal: under 2 ms. The report's size
// is shown as a counter.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <ctime>
#include <sys/wait.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

extern char** environ;

namespace {

namespace fs = std::filesystem;

void BM_FaultToReportOnDisk(benchmark::State& state) {
  const fs::path folder = fs::temp_directory_path() / ("crash-bench-" + std::to_string(getpid()));
  double reportBytes = 0;
  for (auto _ : state) {
    fs::remove_all(folder);
    fs::create_directories(folder / "Reports");
    const int watch = inotify_init1(IN_CLOEXEC);
    inotify_add_watch(watch, (folder / "Reports").c_str(), IN_CLOSE_WRITE);
    std::string scenario = "twenty-threads";
    std::string path = folder.string();
    std::string program = CRASH_CHILD;
    char* argv[] = {program.data(), scenario.data(), path.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    if (posix_spawn(&pid, CRASH_CHILD, &actions, nullptr, argv, environ) != 0) {
      state.SkipWithError("cannot start the crash child");
      break;
    }
    posix_spawn_file_actions_destroy(&actions);
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
    for (const auto& entry : fs::directory_iterator(folder / "Reports")) report = entry.path();
    struct stat info {};
    if (!closed || faultNanoseconds == 0 || report.empty() || stat(report.c_str(), &info) != 0) {
      state.SkipWithError("no report");
      break;
    }
    const long long writtenNanoseconds = static_cast<long long>(written.tv_sec) * 1000000000LL + written.tv_nsec;
    state.SetIterationTime(static_cast<double>(writtenNanoseconds - faultNanoseconds) / 1e9);
    reportBytes = static_cast<double>(info.st_size);
  }
  state.counters["report_bytes"] = reportBytes;
  fs::remove_all(folder);
}

BENCHMARK(BM_FaultToReportOnDisk)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace
