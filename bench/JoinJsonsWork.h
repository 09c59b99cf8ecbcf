#pragma once
// The work of the rule-file merge benchmarks, shared by JoinJsonsBench and its driver program:
// the seeded lists, the whitelist, and the same merge written plainly with nlohmann-json.

#include <stdio.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace join_jsons {

inline constexpr int kWhitelistSites = 20;

/// Rules shaped like real filter lists: blocking rules with URL filters, some limited to or
/// excluded from domains, element hiding, exceptions, and types that are dropped (three in ten,
/// so that the joined file stays within the 150,000 rules the browser takes).
inline std::string ruleList(int list, int rules) {
  std::string out = "[";
  out.reserve(rules * 170);
  for (int i = 0; i < rules; ++i) {
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

inline std::vector<std::string> whitelistSites() {
  std::vector<std::string> sites;
  for (int i = 0; i < kWhitelistSites; ++i) {
    sites.push_back(i % 4 == 0 ? "Site" + std::to_string(i) + ".Com" : "*site" + std::to_string(i) + ".org");
  }
  return sites;
}

// ----------------------------------------------------------------------------------------------
// The same merge with nlohmann-json.

inline bool validDomain(const std::string& d) {
  std::string_view v = d;
  if (!v.empty() && v.front() == '*') v.remove_prefix(1);
  return !v.empty() && std::all_of(v.begin(), v.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.';
  });
}

inline bool nlohmannJoin(const std::vector<std::string>& files, const std::vector<std::string>& stored,
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

}  // namespace join_jsons
