// BM_StartupAddedByTheCrashIntegration: `fendrel launch` from its start to its exit with a DSN set
// (the crash reporter, its crash integration and the session it sends at exit) against the same
// launch with an empty DSN (reporter off), alternating, each on a fresh device root against
// loopback servers: a configuration and list host, and the ingestion server. Goal: the median
// with the DSN under 20 ms above the median without. Prints min, median and max of both in ms.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

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

void report(benchmark::State& state, const std::string& name, std::vector<double> samples) {
  if (samples.empty()) return;
  std::sort(samples.begin(), samples.end());
  state.counters[name + "_min_ms"] = samples.front();
  state.counters[name + "_median_ms"] = samples[samples.size() / 2];
  state.counters[name + "_max_ms"] = samples.back();
}

void BM_StartupAddedByTheCrashIntegration(benchmark::State& state) {
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

  // One launch on a fresh device root; its duration in ms, or a negative value when it failed.
  auto launch = [&](const std::string& withDsn, const std::string& side) {
    const fs::path work = base / side;
    fs::remove_all(work);
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
    const double elapsed = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    return run.status == 0 ? elapsed : -1.0;
  };

  std::vector<double> withIntegration, without;
  for (auto _ : state) {
    const double with = launch(dsn, "with");
    const double plain = launch("", "without");
    if (with < 0 || plain < 0) {
      state.SkipWithError("fendrel launch failed");
      break;
    }
    withIntegration.push_back(with);
    without.push_back(plain);
    state.SetIterationTime(with / 1000);
  }
  report(state, "with_dsn", withIntegration);
  report(state, "without_dsn", without);
  fs::remove_all(base);
}

BENCHMARK(BM_StartupAddedByTheCrashIntegration)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(30);

}  // namespace
