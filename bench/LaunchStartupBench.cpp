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
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
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

double median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void BM_StartupAddedByTheCrashIntegration(benchmark::State& state) {
  const bool warm = state.range(0) == 1;
  testing_support::LoopbackServer host([](httplib::Server& server) {
    server.Get("/Skyvane/config1.7.json", [](const httplib::Request&, httplib::Response& response) {
      response.set_content(kConfig, "application/json");
    });
    server.Get(R"(/Skyvane/lists/([^/]+))", [](const httplib::Request&, httplib::Response& response) {
      response.set_content(kList, "application/json");
    });
    server.Get("/track/", [](const httplib::Request&, httplib::Response& response) { response.set_content("1", "text/plain"); });
  });
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

}  // namespace
