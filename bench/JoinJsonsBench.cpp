// joinJsons over four enabled lists of 50,000 rules each and a 20-site whitelist, on a temporary
// device root, and the same merge written plainly with nlohmann-json, side by side (joinJsons also
// checks every rule against the browser's format; the plain merge does not). Last, the time the
// browser's compiler (WebKit's) takes for the file joinJsons wrote.
//
// Counters: "inputMB" (the four list files), "peakRSSGrowthMB" (the growth of the peak resident
// size during one compilation, measured in a forked child so that earlier runs do not hide it)
// and "peakOverInput" (their ratio).

#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <algorithm>
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
#include "platform/browser/ContentRuleListStore.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/DeviceRoot.h"
#include "platform/foundation/UserDefaults.h"

namespace {

namespace fs = std::filesystem;

constexpr int kListCount = 4;
constexpr int kRulesPerList = 50'000;
constexpr int kWhitelistSites = 20;

/// Rules shaped like real filter lists: blocking rules with URL filters, some limited to or
/// excluded from domains, element hiding, exceptions, and types that are dropped (three in ten,
/// so that the joined file stays within the 150,000 rules the browser takes).
std::string ruleList(int list) {
  std::string out = "[";
  out.reserve(kRulesPerList * 170);
  for (int i = 0; i < kRulesPerList; ++i) {
    const std::string n = std::to_string(list) + "x" + std::to_string(i);
    if (i > 0) out += ',';
    switch (i % 10) {
      case 0:
      case 1:
        out += R"({"trigger":{"url-filter":"^https?://([^/]+\\.)?ads)" + n +
               R"(\\.tracker\\.net/","if-domain":["*site)" + n + R"(.com","*site)" + std::to_string(i % 40) +
               R"(.org"],"load-type":["third-party"]},"action":{"type":"block"}})";
        break;
      case 2:
        out += R"({"trigger":{"url-filter":".*","unless-domain":["*shop)" + n +
               R"(.org"]},"action":{"type":"css-display-none","selector":".ad-banner-)" + n + R"(, #sponsored"}})";
        break;
      case 3:
        out += R"({"trigger":{"url-filter":"^https?://cdn)" + n +
               R"(\\.example\\.com/"},"action":{"type":"ignore-previous-rules"}})";
        break;
      case 4:
      case 8:
        out += R"({"trigger":{"url-filter":"track)" + n + R"("},"action":{"type":"make-https"}})";
        break;
      case 9:
        out += R"({"trigger":{"url-filter":"cookie)" + n + R"("},"action":{"type":"block-cookies"}})";
        break;
      default:
        out += R"({"trigger":{"url-filter":"^https?://([^/]+\\.)?pixel)" + n +
               R"(\\.net/.*\\.gif","url-filter-is-case-sensitive":true,"resource-type":["image"]},)"
               R"("action":{"type":"block"}})";
        break;
    }
  }
  out += ']';
  return out;
}

std::vector<std::string> whitelistSites() {
  std::vector<std::string> sites;
  for (int i = 0; i < kWhitelistSites; ++i) {
    sites.push_back(i % 4 == 0 ? "Site" + std::to_string(i) + ".Com" : "*site" + std::to_string(i) + ".org");
  }
  return sites;
}

/// A device root with the app's bundle, four cached and enabled lists and the whitelist.
struct Fixture {
  std::string root;
  std::vector<std::string> listFiles;
  std::set<std::string> ids;
  double inputBytes = 0;

  Fixture() {
    std::string pattern = (fs::temp_directory_path() / "fendrel-bench-XXXXXX").string();
    root = ::mkdtemp(pattern.data());
    foundation::DeviceRoot::setPathForTesting(root);
    auto bundle = foundation::DeviceRoot::installBundle(
        "Fendrel.app",
        foundation::Dictionary{{"CFBundleIdentifier", "com.morvit.Fendrel"},
                               {foundation::kApplicationGroupsKey, foundation::Array{fendrel::kAppGroupIdentifier}}},
        {});
    (void)bundle;
    foundation::Bundle::setMainBundleName("Fendrel.app");
    fendrel::Singleton::resetForTesting();

    const std::string caches = root + "/containers/" + fendrel::kAppGroupIdentifier + "/Library/Caches/";
    fs::create_directories(caches);
    fendrel::Singleton::ListElements elements;
    foundation::Array enabled;
    for (int i = 0; i < kListCount; ++i) {
      const std::string id = "list" + std::to_string(i);
      const std::string text = ruleList(i);
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
    for (const auto& site : whitelistSites()) whitelist.push_back({site, true, 0});
    (void)fendrel::Singleton::shared().setWhitelist(whitelist);
  }
  ~Fixture() {
    fendrel::Singleton::resetForTesting();
    foundation::Bundle::setMainBundleName("");
    foundation::DeviceRoot::setPathForTesting("");
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
// The same merge with nlohmann-json.

bool validDomain(const std::string& d) {
  std::string_view v = d;
  if (!v.empty() && v.front() == '*') v.remove_prefix(1);
  return !v.empty() && std::all_of(v.begin(), v.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.';
  });
}

bool nlohmannJoin(const std::vector<std::string>& files, const std::vector<std::string>& stored,
                  const std::string& output) {
  std::vector<std::string> ruleDomains;
  for (auto d : stored) {
    std::transform(d.begin(), d.end(), d.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (validDomain(d) && std::find(ruleDomains.begin(), ruleDomains.end(), d) == ruleDomains.end()) {
      ruleDomains.push_back(d);
    }
  }
  nlohmann::json buckets[3] = {nlohmann::json::array(), nlohmann::json::array(), nlohmann::json::array()};
  for (const auto& file : files) {
    std::ifstream in(file, std::ios::binary);
    nlohmann::json list = nlohmann::json::parse(in, nullptr, false);
    if (list.is_discarded() || !list.is_structured()) continue;
    for (auto& rule : list) {
      auto action = rule.find("action");
      if (action == rule.end() || !action->is_object()) continue;
      auto type = action->find("type");
      if (type == action->end() || !type->is_string()) continue;
      const auto& t = type->get_ref<const std::string&>();
      int bucket = t == "block" ? 0 : t == "css-display-none" ? 1 : t == "ignore-previous-rules" ? 2 : -1;
      if (bucket < 0) continue;
      auto trigger = rule.find("trigger");
      if (!stored.empty() && trigger != rule.end() && trigger->is_object()) {
        auto& g = *trigger;
        if (g.contains("if-domain")) {
          nlohmann::json kept = nlohmann::json::array();
          for (const auto& d : g["if-domain"]) {
            if (std::find(stored.begin(), stored.end(), d.get<std::string>()) == stored.end()) kept.push_back(d);
          }
          if (kept.empty()) continue;
          g["if-domain"] = std::move(kept);
        }
      }
      buckets[bucket].push_back(std::move(rule));
    }
  }
  nlohmann::json result = std::move(buckets[0]);
  for (int b = 1; b < 3; ++b) {
    for (auto& rule : buckets[b]) result.push_back(std::move(rule));
  }
  // The whitelist: one exception rule after all others.
  if (!result.empty() && !ruleDomains.empty()) {
    result.push_back({{"trigger", {{"url-filter", ".*"}, {"if-domain", ruleDomains}}},
                      {"action", {{"type", "ignore-previous-rules"}}}});
  }
  // Written as joinJsons writes: to a temporary file, flushed to disk, renamed into place.
  const std::string temporary = output + ".nlohmann.tmp";
  const std::string text = result.dump();
  FILE* out = std::fopen(temporary.c_str(), "wb");
  if (!out) return false;
  bool ok = std::fwrite(text.data(), 1, text.size(), out) == text.size() && std::fflush(out) == 0 &&
            ::fsync(::fileno(out)) == 0;
  ok = std::fclose(out) == 0 && ok;
  return ok && std::rename(temporary.c_str(), output.c_str()) == 0;
}

// ----------------------------------------------------------------------------------------------

/// The growth of the peak resident size, in bytes, while `work` runs once in a forked child (the
/// child's peak starts at its size at the fork).
double peakRSSGrowth(const std::function<bool()>& work) {
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) return -1;
  pid_t child = ::fork();
  if (child == 0) {
    ::close(pipeFds[0]);
    rusage before{}, after{};
    ::getrusage(RUSAGE_SELF, &before);
    bool ok = work();
    ::getrusage(RUSAGE_SELF, &after);
    double growth = ok ? static_cast<double>(after.ru_maxrss - before.ru_maxrss) * 1024.0 : -1;
    (void)!::write(pipeFds[1], &growth, sizeof growth);
    ::_exit(0);
  }
  ::close(pipeFds[1]);
  double growth = -1;
  if (child < 0 || ::read(pipeFds[0], &growth, sizeof growth) != sizeof growth) growth = -1;
  ::close(pipeFds[0]);
  if (child > 0) ::waitpid(child, nullptr, 0);
  return growth;
}

void report(benchmark::State& state, double growth) {
  const double input = fixture().inputBytes;
  state.counters["inputMB"] = input / 1e6;
  state.counters["peakRSSGrowthMB"] = growth / 1e6;
  state.counters["peakOverInput"] = growth / input;
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input));
}

void BM_JoinJsons(benchmark::State& state) {
  Fixture& f = fixture();
  auto join = [&] { return fendrel::SharedAux::shared().joinJsons(f.ids).ok(); };
  const double growth = peakRSSGrowth(join);
  for (auto _ : state) {
    if (!join()) {
      state.SkipWithError("joinJsons failed");
      return;
    }
  }
  report(state, growth);
}

void BM_NlohmannJoin(benchmark::State& state) {
  Fixture& f = fixture();
  const auto stored = whitelistSites();
  auto join = [&] { return nlohmannJoin(f.listFiles, stored, f.outputPath() + ".nlohmann"); };
  const double growth = peakRSSGrowth(join);
  for (auto _ : state) {
    if (!join()) {
      state.SkipWithError("nlohmann merge failed");
      return;
    }
  }
  report(state, growth);
}

/// Both merges keep the same rules in the same order: the comparison is of equal work.
void BM_SameOutput(benchmark::State& state) {
  Fixture& f = fixture();
  const auto stored = whitelistSites();
  for (auto _ : state) {
    bool ok = fendrel::SharedAux::shared().joinJsons(f.ids).ok() &&
              nlohmannJoin(f.listFiles, stored, f.outputPath() + ".nlohmann");
    auto ours = nlohmann::json::parse(readText(f.outputPath()), nullptr, false);
    auto theirs = nlohmann::json::parse(readText(f.outputPath() + ".nlohmann"), nullptr, false);
    if (!ok || ours != theirs) state.SkipWithError("the two merges differ");
    state.counters["rules"] = static_cast<double>(ours.size());
  }
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
BENCHMARK(BM_SameOutput)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_WebKitCompileOfOutput)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
