// joinJsons over four enabled lists of 50,000 rules each and a 20-site whitelist, on a temporary
// device root, and the same merge written plainly with nlohmann-json, side by side (joinJsons also
// checks every rule against the browser's format; the plain merge does not). Last, the time the
// browser's compiler (WebKit's) takes for the file joinJsons wrote.
//
// The same pair once more as whole processes (BM_MergeWholeProcess): a small driver program per
// side, freshly executed for every run, run alternately, at 10k to 200k rules per list; its peak
// memory is the peak resident size of the finished process. Goals: at least 10x the nlohmann
// merge's speed, and a peak under the size of the input, flat in the number of lists.

#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/core/CloudObject.h"
#include "app/core/ListElement.h"
#include "app/core/SharedAux.h"
#include "app/core/Singleton.h"
#include "bench/JoinJsonsWork.h"
#include "platform/browser/ContentRuleListStore.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/DeviceRoot.h"
#include "platform/foundation/JSONArrayCount.h"
#include "platform/foundation/JSONSerialization.h"
#include "platform/foundation/UserDefaults.h"

namespace {

namespace fs = std::filesystem;

constexpr int kListCount = 4;
constexpr int kRulesPerList = 50'000;

/// A device root with the app's bundle, four cached and enabled lists and the whitelist.
struct Fixture {
  std::string root;
  std::vector<std::string> listFiles;
  std::set<std::string> ids;
  double inputBytes = 0;

  Fixture() {
    std::string pattern = (fs::temp_directory_path() / "fendrel-bench-XXXXXX").string();
    root = ::mkdtemp(pattern.data());
    foundation::DeviceRoot::setPath(root);
    auto bundle = foundation::DeviceRoot::installBundle(
        "Fendrel.app",
        foundation::Dictionary{{"CFBundleIdentifier", "com.morvit.Fendrel"},
                               {foundation::kApplicationGroupsKey, foundation::Array{fendrel::kAppGroupIdentifier}}},
        {});
    (void)bundle;
    foundation::Bundle::setMainBundleName("Fendrel.app");
    fendrel::Singleton::resetShared();

    const std::string caches = root + "/containers/" + fendrel::kAppGroupIdentifier + "/Library/Caches/";
    fs::create_directories(caches);
    fendrel::Singleton::ListElements elements;
    foundation::Array enabled;
    for (int i = 0; i < kListCount; ++i) {
      const std::string id = "list" + std::to_string(i);
      const std::string text = join_jsons::ruleList(i, kRulesPerList);
      inputBytes += static_cast<double>(text.size());
      listFiles.push_back(caches + "1600000000" + id + ".json");
      std::ofstream(listFiles.back(), std::ios::binary) << text;
      auto obj = fendrel::CloudObject::make(
          fendrel::CloudObject::Kind::List,
          foundation::Dictionary{{"name", id}, {"modifiedAt", 1600000000.0}, {"iconUrl", "http://127.0.0.1/i.png"},
                                 {"objectId", id}, {"attachmentUrl", "http://127.0.0.1/" + id + ".json"},
                                 {"count", kRulesPerList}, {"desc", ""}, {"num", i}},
          std::nullopt);
      elements.push_back(fendrel::ListElement::make(*obj));
      enabled.push_back(id);
      ids.insert(id);
    }
    fendrel::Singleton::shared().setLists(std::move(elements));
    (void)fendrel::Singleton::shared().userDefs()->set("extConfigIDs", enabled);
    std::vector<fendrel::WhitelistElement> whitelist;
    for (const auto& site : join_jsons::whitelistSites()) whitelist.push_back({site, true, 0});
    (void)fendrel::Singleton::shared().setWhitelist(whitelist);
  }
  ~Fixture() {
    fendrel::Singleton::resetShared();
    foundation::Bundle::setMainBundleName("");
    foundation::DeviceRoot::setPath("");
    fs::remove_all(root);
  }
  std::string outputPath() const { return root + "/containers/" + fendrel::kAppGroupIdentifier + "/output.json"; }
};

Fixture& fixture() {
  static Fixture f;
  return f;
}

std::string readText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// ----------------------------------------------------------------------------------------------
// The whole-process pair: each merge in a freshly executed driver program, the two sides run
// alternately, each one's peak resident size read from its finished process.

struct ProcessRun {
  double seconds = 0;
  double peakBytes = 0;
  bool ok = false;
};

ProcessRun runDriver(const std::string& program, const std::string& output, const std::vector<std::string>& lists) {
  std::vector<std::string> arguments{program, output};
  arguments.insert(arguments.end(), lists.begin(), lists.end());
  std::vector<char*> argv;
  for (auto& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  ProcessRun run;
  int out[2];
  if (::pipe(out) != 0) return run;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  const auto start = std::chrono::steady_clock::now();
  pid_t child = 0;
  const int spawned = ::posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  std::string answer;
  char buffer[256];
  for (ssize_t n; spawned == 0 && (n = ::read(out[0], buffer, sizeof buffer)) > 0;) answer.append(buffer, static_cast<std::size_t>(n));
  ::close(out[0]);
  if (spawned != 0) return run;
  int status = 0;
  if (::waitpid(child, &status, 0) != child) return run;
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  // The child's own peak: the rusage peak of a spawned child also holds the parent's at the spawn.
  const auto at = answer.find("peakKiB=");
  if (at != std::string::npos) run.peakBytes = std::strtod(answer.c_str() + at + 8, nullptr) * 1024.0;
  run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0 && run.peakBytes > 0;
  return run;
}

void minMedianMax(benchmark::State& state, const std::string& name, std::vector<double> values, double scale) {
  std::sort(values.begin(), values.end());
  state.counters[name + "_min"] = values.front() * scale;
  state.counters[name + "_med"] = values[values.size() / 2] * scale;
  state.counters[name + "_max"] = values.back() * scale;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

/// 4 lists of state.range(0) rules each, merged by both sides in fresh processes, alternately.
/// Counters: ms and peak MiB of each side (min, median, max), the input MB, each side's peak over
/// the input, and the speed-up of ours over nlohmann (median against median).
void BM_MergeWholeProcess(benchmark::State& state) {
  const int rules = static_cast<int>(state.range(0));
  std::string pattern = (fs::temp_directory_path() / "fendrel-merge-XXXXXX").string();
  const std::string folder = ::mkdtemp(pattern.data());
  std::vector<std::string> lists;
  double input = 0;
  for (int i = 0; i < kListCount; ++i) {
    const std::string text = join_jsons::ruleList(i, rules);
    input += static_cast<double>(text.size());
    lists.push_back(folder + "/list" + std::to_string(i) + ".json");
    std::ofstream(lists.back(), std::ios::binary) << text;
  }
  // JOIN_JSONS_OURS names another build of our driver, to measure an earlier version the same way.
  const char* other = std::getenv("JOIN_JSONS_OURS");
  const std::string oursDriver = other && *other ? other : JOIN_JSONS_DRIVER;
  std::vector<double> oursTime, oursPeak, theirTime, theirPeak;
  for (auto _ : state) {
    const ProcessRun ours = runDriver(oursDriver, folder + "/ours.json", lists);
    const ProcessRun theirs = runDriver(JOIN_JSONS_NLOHMANN_DRIVER, folder + "/nlohmann.json", lists);
    if (!ours.ok || !theirs.ok) {
      state.SkipWithError("a driver failed");
      break;
    }
    oursTime.push_back(ours.seconds);
    oursPeak.push_back(ours.peakBytes);
    theirTime.push_back(theirs.seconds);
    theirPeak.push_back(theirs.peakBytes);
  }
  if (!oursTime.empty()) {
    minMedianMax(state, "ours_ms", oursTime, 1e3);
    minMedianMax(state, "nlohmann_ms", theirTime, 1e3);
    minMedianMax(state, "ours_peakMiB", oursPeak, 1.0 / (1 << 20));
    minMedianMax(state, "nlohmann_peakMiB", theirPeak, 1.0 / (1 << 20));
    state.counters["inputMB"] = input / 1e6;
    state.counters["ours_peakOverInput"] = median(oursPeak) / input;
    state.counters["nlohmann_peakOverInput"] = median(theirPeak) / input;
    state.counters["speedup"] = median(theirTime) / median(oursTime);
    // The same rules in the same order: the comparison is of equal work.
    auto a = nlohmann::json::parse(readText(folder + "/ours.json"), nullptr, false);
    auto b = nlohmann::json::parse(readText(folder + "/nlohmann.json"), nullptr, false);
    if (a.is_discarded() || a != b) state.SkipWithError("the two merges differ");
  }
  fs::remove_all(folder);
}

void report(benchmark::State& state) {
  state.counters["inputMB"] = fixture().inputBytes / 1e6;
  state.SetBytesProcessed(static_cast<std::int64_t>(static_cast<double>(state.iterations()) * fixture().inputBytes));
}

void BM_JoinJsons(benchmark::State& state) {
  Fixture& f = fixture();
  auto join = [&] { return fendrel::SharedAux::shared().joinJsons(f.ids).ok(); };
  for (auto _ : state) {
    if (!join()) {
      state.SkipWithError("joinJsons failed");
      return;
    }
  }
  report(state);
}

void BM_NlohmannJoin(benchmark::State& state) {
  Fixture& f = fixture();
  const auto stored = join_jsons::whitelistSites();
  auto join = [&] { return join_jsons::nlohmannJoin(f.listFiles, stored, f.outputPath() + ".nlohmann"); };
  for (auto _ : state) {
    if (!join()) {
      state.SkipWithError("nlohmann merge failed");
      return;
    }
  }
  report(state);
}

/// Both merges keep the same rules in the same order: the comparison is of equal work.
void BM_SameOutput(benchmark::State& state) {
  Fixture& f = fixture();
  const auto stored = join_jsons::whitelistSites();
  for (auto _ : state) {
    bool ok = fendrel::SharedAux::shared().joinJsons(f.ids).ok() &&
              join_jsons::nlohmannJoin(f.listFiles, stored, f.outputPath() + ".nlohmann");
    auto ours = nlohmann::json::parse(readText(f.outputPath()), nullptr, false);
    auto theirs = nlohmann::json::parse(readText(f.outputPath() + ".nlohmann"), nullptr, false);
    if (!ok || ours != theirs) state.SkipWithError("the two merges differ");
    state.counters["rules"] = static_cast<double>(ours.size());
  }
}

/// Counting the rules of the output: without a value tree (as the browser stand-in and the command
/// line do) and, alternately in the same loop, by a full parse into the value tree (the reference).
/// Goal: under 10 ms for the 18.6 MB output.
void BM_CountRulesOfOutput(benchmark::State& state) {
  Fixture& f = fixture();
  if (!fendrel::SharedAux::shared().joinJsons(f.ids).ok()) {
    state.SkipWithError("joinJsons failed");
    return;
  }
  const std::string text = readText(f.outputPath());
  std::vector<double> counted, parsed;
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    auto count = foundation::countJSONArrayElements(text);
    counted.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    start = std::chrono::steady_clock::now();
    auto tree = foundation::JSONSerialization::JSONObjectWithData(text);
    parsed.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    if (!count || !tree || !tree->array() || *count != tree->array()->size()) {
      state.SkipWithError("the two counts differ");
      return;
    }
  }
  minMedianMax(state, "noTree_ms", counted, 1e3);
  minMedianMax(state, "valueTree_ms", parsed, 1e3);
  state.counters["outputMB"] = static_cast<double>(text.size()) / 1e6;
}

/// How long the browser's compiler (WebKit's) takes for the file joinJsons produced.
void BM_WebKitCompileOfOutput(benchmark::State& state) {
  Fixture& f = fixture();
  if (!fendrel::SharedAux::shared().joinJsons(f.ids).ok()) {
    state.SkipWithError("joinJsons failed");
    return;
  }
  const std::string text = readText(f.outputPath());
  for (auto _ : state) {
    auto compiled = browser::ContentRuleListStore::compile(f.root + "/webkit-store", "bench", text);
    if (!compiled) state.SkipWithError(compiled.error().localizedDescription().c_str());
  }
  state.counters["outputMB"] = static_cast<double>(text.size()) / 1e6;
}

BENCHMARK(BM_JoinJsons)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_NlohmannJoin)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_MergeWholeProcess)->Arg(10'000)->Arg(50'000)->Arg(100'000)->Arg(200'000)->Iterations(7)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CountRulesOfOutput)->Iterations(15)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SameOutput)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_WebKitCompileOfOutput)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
