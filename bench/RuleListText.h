#pragma once
// The rule lists the JSON benchmarks parse and write, shaped like the filter lists the app
// compiles: mostly blocking rules with a URL filter, a domain list and a case-sensitivity flag,
// and every fifth rule a cosmetic one that hides elements by selector. 27,500 rules make 6.3 MB
// of text, 50,000 make 11.4 MB and 81,000 make 18.6 MB.

#include <map>
#include <mutex>
#include <string>

namespace bench {

inline constexpr int kRuleCount = 50'000;

inline std::string makeRuleListText(int ruleCount) {
  std::string text = "[";
  text.reserve(static_cast<std::size_t>(ruleCount) * 230);
  for (int i = 0; i < ruleCount; ++i) {
    const std::string n = std::to_string(i);
    if (i > 0) text += ',';
    if (i % 5 == 4) {
      text += R"({"trigger":{"url-filter":".*","if-domain":["*news)" + n + R"(.example.com"]},)"
              R"("action":{"type":"css-display-none","selector":".ad-banner-)" + n +
              R"(, #sponsored-)" + n + R"( > div[class^=\"promo\"]"}})";
    } else {
      text += R"({"trigger":{"url-filter":"^https?://([^/]+\\.)?ads)" + n +
              R"(\\.tracker\\.net/.*\\.js","if-domain":["*site)" + n + R"(.com","*shop)" + n +
              R"(.org","*blog.example)" + std::to_string(i % 97) +
              R"(.io"],"url-filter-is-case-sensitive":true,"load-type":["third-party"]},)"
              R"("action":{"type":"block"}})";
    }
  }
  text += ']';
  return text;
}

/// The list of `ruleCount` rules, made once per count and kept for the process.
inline const std::string& ruleListText(int ruleCount = kRuleCount) {
  static std::mutex lock;
  static auto* lists = new std::map<int, std::string>();
  std::lock_guard guard(lock);
  auto [it, made] = lists->try_emplace(ruleCount);
  if (made) it->second = makeRuleListText(ruleCount);
  return it->second;
}

}  // namespace bench
