#pragma once
// The 50,000-rule list the JSON benchmarks parse and write, shaped like the filter lists the app
// compiles: mostly blocking rules with a URL filter, a domain list and a case-sensitivity flag,
// and every fifth rule a cosmetic one that hides elements by selector.

#include <string>

namespace bench {

inline constexpr int kRuleCount = 50'000;

inline const std::string& ruleListText() {
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

}  // namespace bench
