// Parses a content-blocker rule list from its text and writes it back compact, with our JSON
// text layer and, alternating in the same run, with nlohmann-json, simdjson (its DOM and its
// minifying writer) and RapidJSON (Document and Writer). Every side parses from the text and
// gives the written text as a string. Three lists: 27,500, 50,000 and 81,000 rules (6.3, 11.4
// and 18.6 MB). Goal: at least 6 times nlohmann-json and no slower than RapidJSON on each.

#include <benchmark/benchmark.h>
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <simdjson.h>

#include <nlohmann/json.hpp>

#include <cstdio>
#include <string>

#include "bench/RuleListText.h"
#include "bench/SideBySide.h"
#include "platform/foundation/JSONSerialization.h"

namespace {

std::string foundationParseAndWrite(const std::string& text) {
  auto value = foundation::JSONSerialization::JSONObjectWithData(text);
  if (!value) return value.error().localizedDescription();
  auto written = foundation::JSONSerialization::dataWithJSONObject(*value);
  if (!written) return written.error().localizedDescription();
  benchmark::DoNotOptimize(written->data());
  return {};
}

std::string nlohmannParseAndDump(const std::string& text) {
  auto value = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (value.is_discarded()) return "cannot parse the rule list";
  std::string written = value.dump();
  benchmark::DoNotOptimize(written.data());
  return {};
}

std::string simdjsonParseAndMinify(const std::string& text) {
  simdjson::dom::parser parser;
  simdjson::dom::element root;
  if (parser.parse(text).get(root) != simdjson::SUCCESS) return "cannot parse the rule list";
  std::string written = simdjson::minify(root);
  benchmark::DoNotOptimize(written.data());
  return {};
}

std::string rapidjsonParseAndWrite(const std::string& text) {
  rapidjson::Document document;
  document.Parse(text.data(), text.size());
  if (document.HasParseError()) return "cannot parse the rule list";
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  document.Accept(writer);
  std::string written(buffer.GetString(), buffer.GetSize());
  benchmark::DoNotOptimize(written.data());
  return {};
}

void BM_ParseAndWrite(benchmark::State& state) {
  const std::string& text = bench::ruleListText(static_cast<int>(state.range(0)));
  char label[32];
  std::snprintf(label, sizeof label, "%.1f MB", static_cast<double>(text.size()) / 1e6);
  state.SetLabel(label);
  bench::runSideBySide(state, {{"fendrel", [&] { return foundationParseAndWrite(text); }},
                               {"nlohmann", [&] { return nlohmannParseAndDump(text); }},
                               {"simdjson", [&] { return simdjsonParseAndMinify(text); }},
                               {"rapidjson", [&] { return rapidjsonParseAndWrite(text); }}});
}
BENCHMARK(BM_ParseAndWrite)->Arg(27'500)->Arg(50'000)->Arg(81'000)->Iterations(11)->Unit(benchmark::kMillisecond);

// The two halves of ours alone, on the 11.4 MB list, to see where the time goes.
void BM_FoundationParse(benchmark::State& state) {
  const std::string& text = bench::ruleListText();
  for (auto _ : state) {
    auto value = foundation::JSONSerialization::JSONObjectWithData(text);
    benchmark::DoNotOptimize(value.ok());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_FoundationParse)->Unit(benchmark::kMillisecond);

void BM_FoundationWrite(benchmark::State& state) {
  const auto value = foundation::JSONSerialization::JSONObjectWithData(bench::ruleListText());
  if (!value) {
    state.SkipWithError(value.error().localizedDescription().c_str());
    return;
  }
  for (auto _ : state) {
    auto written = foundation::JSONSerialization::dataWithJSONObject(*value);
    benchmark::DoNotOptimize(written.ok());
  }
}
BENCHMARK(BM_FoundationWrite)->Unit(benchmark::kMillisecond);

}  // namespace
