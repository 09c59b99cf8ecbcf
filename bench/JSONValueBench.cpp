// The rule compiler's work on a 50,000-rule list through the JSON value type: parse, read
// "action"/"type" and "trigger"/"if-domain" of every rule, rewrite "trigger"/"unless-domain" on
// each, and write the list back. The same work with nlohmann-json alternates with it in the same
// run. Goal: at least 5 times nlohmann-json.

#include <benchmark/benchmark.h>

#include <nlohmann/json.hpp>

#include <string>

#include "bench/RuleListText.h"
#include "bench/SideBySide.h"
#include "json/JSON.h"

namespace {

const std::string& ruleList() { return bench::ruleListText(); }

std::string jsonCompileWork(const std::string& text, const json::JSON& whitelist) {
  auto list = json::JSON::fromData(text);
  if (!list) return list.error().localizedDescription();
  std::size_t blocking = 0;
  std::size_t domains = 0;
  const std::int64_t count = list->count();
  for (std::int64_t i = 0; i < count; ++i) {
    if (list->get(i, "action", "type").string() == "block") ++blocking;
    domains += static_cast<std::size_t>(list->get(i, "trigger", "if-domain").count());
    list->set({i, "trigger", "unless-domain"}, whitelist);
  }
  auto written = list->rawData();
  if (!written) return written.error().localizedDescription();
  benchmark::DoNotOptimize(blocking + domains);
  benchmark::DoNotOptimize(written->data());
  return {};
}

std::string nlohmannCompileWork(const std::string& text, const nlohmann::json& whitelist) {
  auto list = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (list.is_discarded() || !list.is_array()) return "cannot parse the rule list";
  std::size_t blocking = 0;
  std::size_t domains = 0;
  for (auto& rule : list) {
    if (!rule.is_object()) continue;
    auto action = rule.find("action");
    if (action != rule.end() && action->is_object()) {
      auto type = action->find("type");
      if (type != action->end() && type->is_string() && type->get_ref<const std::string&>() == "block") {
        ++blocking;
      }
    }
    auto trigger = rule.find("trigger");
    if (trigger != rule.end() && trigger->is_object()) {
      auto ifDomain = trigger->find("if-domain");
      if (ifDomain != trigger->end() && ifDomain->is_array()) domains += ifDomain->size();
      (*trigger)["unless-domain"] = whitelist;
    }
  }
  std::string written = list.dump();
  benchmark::DoNotOptimize(blocking + domains);
  benchmark::DoNotOptimize(written.data());
  return {};
}

void BM_CompileWork(benchmark::State& state) {
  const std::string& text = bench::ruleListText();
  const json::JSON whitelist = json::JSON::arrayLiteral({"*allowed.example.com", "*friend.org"});
  const nlohmann::json nlohmannWhitelist = nlohmann::json::array({"*allowed.example.com", "*friend.org"});
  bench::runSideBySide(state, {{"fendrel", [&] { return jsonCompileWork(text, whitelist); }},
                               {"nlohmann", [&] { return nlohmannCompileWork(text, nlohmannWhitelist); }}});
}
BENCHMARK(BM_CompileWork)->Iterations(11)->Unit(benchmark::kMillisecond);

}  // namespace
