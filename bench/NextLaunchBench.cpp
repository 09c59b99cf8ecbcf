// The next launch's delivery of a crash, against the loopback ingestion server, with real
// crashing children:
// - BM_SecondLaunchToAcceptedEvent: from the start of the launch after a crash to the crash's
//   event accepted by the server. Reference, alternating: the same launch with nothing stored,
//   from its start to its exit.
// - BM_StartupAddedByTheCrashIntegration: a program that starts the reporter and waits until
//   what it has to send is sent, with the crash integration and without it ("start-plain"),
//   alternating with a rotating first side (bench/SideBySide.h), each side on a device root of
//   its own that has started before.
// (The start-up added to `fendrel launch` by the crash integration is in LaunchStartupBench.)
// Each prints the minimum, median and maximum of both sides, in milliseconds.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "bench/SideBySide.h"
#include "testing/Gzip.h"
#include "testing/IngestionServer.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

pid_t spawnChild(const std::string& mode, const std::string& dsn, const fs::path& root) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    if (std::string(*e).rfind("FENDREL_DEVICE_ROOT=", 0) != 0) env.emplace_back(*e);
  }
  env.push_back("FENDREL_DEVICE_ROOT=" + root.string());
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::string program = NEXT_LAUNCH_CHILD, modeArg = mode, dsnArg = dsn;
  char* argv[] = {program.data(), modeArg.data(), dsnArg.data(), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  if (posix_spawn(&pid, NEXT_LAUNCH_CHILD, &actions, nullptr, argv, envp.data()) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

int waitChild(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return status;
}

std::size_t eventCount(const testing_support::IngestionServer& server) {
  std::size_t count = 0;
  for (const auto& request : server.requests()) {
    const auto body = testing_support::gunzip(request.body);
    if (body && body->find("\"type\":\"event\"") != std::string::npos) ++count;
  }
  return count;
}

double millisecondsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void report(benchmark::State& state, const char* name, std::vector<double> samples) {
  if (samples.empty()) return;
  std::sort(samples.begin(), samples.end());
  state.counters[std::string(name) + "_min_ms"] = samples.front();
  state.counters[std::string(name) + "_median_ms"] = samples[samples.size() / 2];
  state.counters[std::string(name) + "_max_ms"] = samples.back();
}

void BM_SecondLaunchToAcceptedEvent(benchmark::State& state) {
  testing_support::IngestionServer server;
  const std::string dsn = server.dsn("pub", "/42");
  const fs::path base = fs::temp_directory_path() / ("next-launch-bench-" + std::to_string(getpid()));
  std::vector<double> delivery, reference;
  for (auto _ : state) {
    fs::remove_all(base);
    waitChild(spawnChild("null", dsn, base / "crashed"));
    const std::size_t before = eventCount(server);

    const auto start = Clock::now();
    const pid_t pid = spawnChild("start", dsn, base / "crashed");
    while (eventCount(server) == before && millisecondsSince(start) < 20000) {
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    const double delivered = millisecondsSince(start);
    waitChild(pid);
    if (eventCount(server) == before) {
      state.SkipWithError("the event never arrived");
      break;
    }
    delivery.push_back(delivered);
    state.SetIterationTime(delivered / 1000);

    const auto plain = Clock::now();
    waitChild(spawnChild("start", dsn, base / "clean"));
    reference.push_back(millisecondsSince(plain));
  }
  report(state, "delivery", delivery);
  report(state, "reference_launch", reference);
  fs::remove_all(base);
}

BENCHMARK(BM_SecondLaunchToAcceptedEvent)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(15);

void BM_StartupAddedByTheCrashIntegration(benchmark::State& state) {
  testing_support::IngestionServer server;
  const std::string dsn = server.dsn("pub", "/42");
  const fs::path base = fs::temp_directory_path() / ("next-launch-startup-bench-" + std::to_string(getpid()));
  fs::remove_all(base);
  auto run = [&](const std::string& mode) {
    const int status = waitChild(spawnChild(mode, dsn, base / mode));
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? std::string() : mode + " failed";
  };
  // The first start of each side makes its folders, outside the measurement.
  for (const char* mode : {"start", "start-plain"}) {
    if (const std::string error = run(mode); !error.empty()) {
      state.SkipWithError(error.c_str());
      return;
    }
  }
  bench::runSideBySide(state, {{"with_integration", [&] { return run("start"); }},
                               {"without_integration", [&] { return run("start-plain"); }}});
  fs::remove_all(base);
}

BENCHMARK(BM_StartupAddedByTheCrashIntegration)->Unit(benchmark::kMillisecond)->Iterations(30);

}  // namespace
