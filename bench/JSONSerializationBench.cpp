// Parses a 50,000-rule content-blocker list into dynamic values and writes it back, with our
// JSON text layer and, side by side, with nlohmann-json.

#include <benchmark/benchmark.h>

#include <nlohmann/json.hpp>

#include <string>

#include "bench/RuleListText.h"
#include "platform/foundation/JSONSerialization.h"

namespace {

const std::string& ruleList() { return bench::ruleListText(); }

void BM_FoundationParseAndWrite(benchmark::State& state) {
  const std::string& text = ruleList();
  for (auto _ : state) {
    auto value = foundation::JSONSerialization::JSONObjectWithData(text);
    if (!value) {
      state.SkipWithError(value.error().localizedDescription().c_str());
      return;
    }
    auto written = foundation::JSONSerialization::dataWithJSONObject(*value);
    if (!written) {
      state.SkipWithError(written.error().localizedDescription().c_str());
      return;
    }
    benchmark::DoNotOptimize(written->data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_FoundationParseAndWrite)->Unit(benchmark::kMillisecond);

void BM_NlohmannParseAndDump(benchmark::State& state) {
  const std::string& text = ruleList();
  for (auto _ : state) {
    auto value = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
    if (value.is_discarded()) {
      state.SkipWithError("nlohmann-json could not parse the rule list");
      return;
    }
    std::string written = value.dump();
    benchmark::DoNotOptimize(written.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_NlohmannParseAndDump)->Unit(benchmark::kMillisecond);

// The two halves of ours alone, to see where the time goes.
void BM_FoundationParse(benchmark::State& state) {
  const std::string& text = ruleList();
  for (auto _ : state) {
    auto value = foundation::JSONSerialization::JSONObjectWithData(text);
    benchmark::DoNotOptimize(value.ok());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_FoundationParse)->Unit(benchmark::kMillisecond);

void BM_FoundationWrite(benchmark::State& state) {
  const auto value = foundation::JSONSerialization::JSONObjectWithData(ruleList());
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
