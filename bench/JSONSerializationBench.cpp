// Parses a 50,000-rule content-blocker list into dynamic values and writes it back, with our
// JSON text layer and, side by side, with nlohmann-json.

#include <benchmark/benchmark.h>

#include <nlohmann/json.hpp>

#include <string>

#include "platform/foundation/JSONSerialization.h"

namespace {

constexpr int kRuleCount = 50'000;

// A rule list shaped like the filter lists the app compiles: mostly blocking rules with a URL
// filter, a domain list and a case-sensitivity flag, and every fifth rule a cosmetic one that
// hides elements by selector.
const std::string& ruleList() {
  static const std::string* const text = [] {
    auto* out = new std::string("[");
    out->reserve(kRuleCount * 190);
    for (int i = 0; i < kRuleCount; ++i) {
      const std::string n = std::to_string(i);
      if (i > 0) *out += ',';
      if (i % 5 == 4) {
        *out += R"({"trigger":{"url-filter":".*","if-domain":["*news)" + n + R"(.example.com"]},)"
                R"("action":{"type":"css-display-none","selector":".ad-banner-)" + n +
                R"(, #sponsored-)" + n + R"( > div[class^=\"promo\"]"}})";
      } else {
        *out += R"({"trigger":{"url-filter":"^https?://([^/]+\\.)?ads)" + n +
                R"(\\.tracker\\.net/.*\\.js","if-domain":["*site)" + n + R"(.com","*shop)" + n +
                R"(.org","*blog.example)" + std::to_string(i % 97) +
                R"(.io"],"url-filter-is-case-sensitive":true,"load-type":["third-party"]},)"
                R"("action":{"type":"block"}})";
      }
    }
    *out += ']';
    return out;
  }();
  return *text;
}

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
