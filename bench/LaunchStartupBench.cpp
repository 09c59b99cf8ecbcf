// BM_StartupAddedByTheCrashIntegration: `fendrel launch` from its start to its exit with a DSN set
// (the crash reporter, its crash integration and the session it sends at exit) beside the same
// launch with an empty DSN (reporter off), alternating with a rotating first side
// (bench/SideBySide.h), against loopback servers: a configuration and list host, and the
// ingestion server. Goal: under 20 ms added.
//  /0 fresh: each launch on a fresh device root, so it compiles the rules, and the browser runs
//     the extension host (which starts the reporter too) and its compiler;
//  /1 warm: each side launches again on a device root of its own that has launched before, so
//     nothing is compiled: the app's own start and end, where the added time is not hidden in
//     the noise of the compiler's second-long run.
// Prints min, median and max of both sides in ms, and "added_med", the median of the differences
// of the two launches of each round (the rounds share the machine's load).
//
// BM_ExtensionHostAnswerAddedByTheCrashIntegration: the part of a fresh launch that the browser
// waits for in the extension host, alone: from the host's start to its answer (the end of its
// standard output), with a DSN and without, each on a fresh copy of a launched device root
// without the host's own data, alternating. What the host does after its answer (its session's
// end and upload) is not waited for, as the browser does not wait for it.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "bench/SideBySide.h"
#include "testing/IngestionServer.h"
#include "testing/LoopbackServer.h"
#include "testing/ProgramRun.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr const char* kConfig = R"({"cloudConfig": {"analyticsEnabled": false},
 "lists": [{"objectId": "list-a", "name": "A", "desc": "a", "num": 1, "count": 1, "modifiedAt": 1700000000,
   "iconUrl": "icons/a.png", "attachmentUrl": "lists/a.json"}], "apps": []})";
constexpr const char* kList = R"([{"trigger": {"url-filter": "ads\\.example"}, "action": {"type": "block"}}])";

// The configuration, list and analytics host both benchmarks launch against.
void serveConfigurationAndLists(httplib::Server& server) {
  server.Get("/Skyvane/config1.7.json", [](const httplib::Request&, httplib::Response& response) {
    response.set_content(kConfig, "application/json");
  });
  server.Get(R"(/Skyvane/lists/([^/]+))", [](const httplib::Request&, httplib::Response& response) {
    response.set_content(kList, "application/json");
  });
  server.Get("/track/", [](const httplib::Request&, httplib::Response& response) { response.set_content("1", "text/plain"); });
}

double median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void BM_StartupAddedByTheCrashIntegration(benchmark::State& state) {
  const bool warm = state.range(0) == 1;
  testing_support::LoopbackServer host(serveConfigurationAndLists);
  testing_support::IngestionServer ingestion;
  const std::string dsn = ingestion.dsn("0123456789abcdef0123456789abcdef", "/42");
  const fs::path base = fs::temp_directory_path() / ("launch-startup-bench-" + std::to_string(::getpid()));

  // One launch of a side; "" on success, else what went wrong. Fresh: a new device root each
  // time, all removed at the end, so that no removal falls into a measurement.
  std::map<std::string, std::vector<double>> times;
  auto launch = [&](const std::string& side, const std::string& withDsn, bool fresh) {
    const fs::path work = base / (fresh ? side + "-" + std::to_string(times[side].size()) : side);
    fs::create_directories(work / "tmp");
    const auto environment = testing_support::environmentWith({
        {"FENDREL_DSN", withDsn},
        {"FENDREL_DEVICE_ROOT", (work / "device").string()},
        {"FENDREL_CONFIG_BASES", host.url("/")},
        {"FENDREL_NO_SHUFFLE", "1"},
        {"FENDREL_ANALYTICS_ENDPOINT", host.url("/track/")},
        {"TMPDIR", (work / "tmp").string()},
    });
    const auto start = Clock::now();
    const auto run = testing_support::runProgram({FENDREL_BINARY, "--timeout", "90", "launch"}, environment, work.string());
    times[side].push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    return run.status == 0 ? std::string() : "fendrel launch ended with " + std::to_string(run.status) + ": " + run.err;
  };

  fs::remove_all(base);
  if (warm) {
    // The launch that compiles, once per side, outside the measurement.
    for (const auto& [side, withDsn] : {std::pair{"with_dsn", dsn}, std::pair{"without_dsn", std::string()}}) {
      if (const std::string error = launch(side, withDsn, false); !error.empty()) {
        state.SkipWithError(error.c_str());
        return;
      }
    }
    times.clear();
  }
  bench::runSideBySide(state, {{"with_dsn", [&] { return launch("with_dsn", dsn, !warm); }},
                               {"without_dsn", [&] { return launch("without_dsn", "", !warm); }}});
  const auto& with = times["with_dsn"];
  const auto& without = times["without_dsn"];
  std::vector<double> added;
  for (std::size_t i = 0; i < std::min(with.size(), without.size()); ++i) added.push_back(with[i] - without[i]);
  if (!added.empty()) state.counters["added_med"] = median(added);
  fs::remove_all(base);
}

BENCHMARK(BM_StartupAddedByTheCrashIntegration)->ArgName("warm")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(30);

/// Runs the extension host on `root`'s Quellbox bundle and gives the milliseconds to its answer, or
/// a negative number when it could not run or gave no answer. Does not wait for the host to end, as
/// the browser does not: its id goes to `running`, for the caller to reap.
double hostAnswerMilliseconds(const std::string& host, const fs::path& root, const std::string& dsn,
                              std::vector<pid_t>& running) {
  const std::string bundle = (root / "apps" / "Quellbox.appex").string();
  const std::string plugin = bundle + "/libQuellbox.so";
  std::vector<std::string> environment;
  for (const auto& [name, value] : testing_support::environmentWith(
           {{"FENDREL_DSN", dsn}, {"FENDREL_DEVICE_ROOT", root.string()}, {"FENDREL_MAIN_BUNDLE", bundle}})) {
    environment.push_back(name + "=" + value);
  }
  std::vector<char*> envp;
  for (auto& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::vector<std::string> args = {host, plugin, bundle};
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  const auto start = Clock::now();
  const int spawned = ::posix_spawn(&pid, host.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  std::string answer;
  char buffer[4096];
  for (ssize_t n; spawned == 0 && (n = ::read(out[0], buffer, sizeof buffer)) != 0;) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    answer.append(buffer, static_cast<std::size_t>(n));
  }
  const double elapsed = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  ::close(out[0]);
  if (spawned == 0) running.push_back(pid);
  return answer.find("\"items\"") != std::string::npos ? elapsed : -1;
}

void BM_ExtensionHostAnswerAddedByTheCrashIntegration(benchmark::State& state) {
  testing_support::LoopbackServer host(serveConfigurationAndLists);
  testing_support::IngestionServer ingestion;
  const std::string dsn = ingestion.dsn("0123456789abcdef0123456789abcdef", "/42");
  const fs::path base = fs::temp_directory_path() / ("host-answer-bench-" + std::to_string(::getpid()));
  // FENDREL_EXTENSION_HOST, as for the browser, runs another build's host (a figure from before a change).
  const char* otherHost = std::getenv("FENDREL_EXTENSION_HOST");
  const std::string extensionHost = otherHost && *otherHost
                                        ? std::string(otherHost)
                                        : (fs::path(FENDREL_BINARY).parent_path() / "fendrel-extension-host").string();
  fs::remove_all(base);

  // One launch without a DSN installs the bundles and the browser's state, outside the measurement.
  const fs::path launched = base / "launched";
  fs::create_directories(launched / "tmp");
  const auto run = testing_support::runProgram(
      {FENDREL_BINARY, "--timeout", "90", "launch"},
      testing_support::environmentWith({{"FENDREL_DSN", ""},
                                        {"FENDREL_DEVICE_ROOT", (launched / "device").string()},
                                        {"FENDREL_CONFIG_BASES", host.url("/")},
                                        {"FENDREL_NO_SHUFFLE", "1"},
                                        {"FENDREL_ANALYTICS_ENDPOINT", host.url("/track/")},
                                        {"TMPDIR", (launched / "tmp").string()}}),
      launched.string());
  if (run.status != 0) {
    state.SkipWithError(("fendrel launch ended with " + std::to_string(run.status) + ": " + run.err).c_str());
    return;
  }

  // A fresh copy of the launched root for every run, without the programs' own data (the host's
  // reporter files), made before the measurement.
  auto rootOf = [&](const std::string& side, std::size_t run) { return base / (side + "-" + std::to_string(run)); };
  std::error_code copyError;
  for (const char* side : {"with_dsn", "without_dsn"}) {
    for (benchmark::IterationCount run = 0; run < state.max_iterations && !copyError; ++run) {
      const fs::path root = rootOf(side, static_cast<std::size_t>(run));
      fs::create_directories(root, copyError);
      for (const char* part : {"apps", "containers", "browser"}) {
        if (!copyError) fs::copy(launched / "device" / part, root / part, fs::copy_options::recursive, copyError);
      }
    }
  }
  if (copyError) {
    state.SkipWithError(("cannot copy the launched device root: " + copyError.message()).c_str());
    return;
  }
  std::map<std::string, std::vector<double>> times;
  std::vector<pid_t> running;
  auto answer = [&](const std::string& side, const std::string& withDsn) {
    const fs::path root = rootOf(side, times[side].size());
    const double elapsed = hostAnswerMilliseconds(extensionHost, root, withDsn, running);
    if (elapsed < 0) return std::string("the extension host gave no answer");
    times[side].push_back(elapsed);
    return std::string();
  };
  bench::runSideBySide(state, {{"with_dsn", [&] { return answer("with_dsn", dsn); }},
                               {"without_dsn", [&] { return answer("without_dsn", ""); }}});
  const auto& with = times["with_dsn"];
  const auto& without = times["without_dsn"];
  std::vector<double> added;
  for (std::size_t i = 0; i < std::min(with.size(), without.size()); ++i) added.push_back(with[i] - without[i]);
  if (!added.empty()) state.counters["added_med"] = median(added);
  for (const pid_t pid : running) {
    int status = 0;
    ::waitpid(pid, &status, 0);
  }
  fs::remove_all(base);
}

BENCHMARK(BM_ExtensionHostAnswerAddedByTheCrashIntegration)->Unit(benchmark::kMillisecond)->Iterations(40);

}  // namespace
