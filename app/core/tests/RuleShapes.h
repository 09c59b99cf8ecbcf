#pragma once
// Test support: single content-blocker rules built from a stream of choices, mixing the shapes the
// browser takes with the ways rules go wrong in real lists. The differential test draws the choices
// from a seeded generator, the fuzz target from its input.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace fendrel::rule_shapes {

/// Returns a number below `count` (count > 0).
using Choose = std::function<std::size_t(std::size_t count)>;

inline std::string jsonQuoted(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20) {
      static const char* hex = "0123456789abcdef";
      out += "\\u00";
      out += hex[u >> 4];
      out += hex[u & 15];
    } else {
      out += c;
    }
  }
  return out + "\"";
}

template <std::size_t N>
std::string_view pick(const Choose& choose, const std::string_view (&items)[N]) {
  return items[choose(N)];
}

/// A URL filter from pieces of the regular-expression syntax, some the browser supports, some not.
inline std::string urlFilter(const Choose& choose) {
  static constexpr std::string_view pieces[] = {
      "a", "b", "Z", ".", "*", "+", "?", "^", "$", "(", ")", "(?:", "(?=", "(?!", "(?<n>", "(?<=",
      "[", "]", "[^", "-", "\\", "\\d", "\\W", "\\b", "\\B", "\\0", "\\1", "\\8", "\\00", "\\377", "\\x41",
      "\\x80", "\\x0", "\\u0061", "\\u00e9", "\\c", "\\cA", "\\k", "\\k<n>", "\\.", "\\/", "\\-", "\\]",
      "{", "}", "{0,1}", "{0,}", "{1,}", "{2}", "{1,2}", "{,", "|", ",", "0", "1", "\xC3\xA9", std::string_view("\0", 1),
      " ", "/", ":", "[a-z]", "[z-a]", "[\\d]", "[\\0]", "[\\x00-\\x7f]", "https?://", "^https?://", ".*",
  };
  // Mostly pieces that keep a filter valid, so that both verdicts are common.
  static constexpr std::string_view plain[] = {"a", "b", "Z", ".", ".*", "\\.", "\\/", "[a-z]", "[^/]+", "(?:ab)?",
                                               "(x)*", "y?", "https?://", "/", ":", "-", "0", "\\x41"};
  std::string filter;
  if (choose(3) == 0) filter += "^";
  const std::size_t count = 1 + choose(6);
  for (std::size_t i = 0; i < count; ++i) filter += choose(5) < 3 ? pick(choose, plain) : pick(choose, pieces);
  if (choose(4) == 0) filter += "$";
  return filter;
}

/// A value for a domain or URL condition.
inline std::string conditionValue(const Choose& choose, bool urls) {
  static constexpr std::string_view domains[] = {"example.org", "*sub.example.org", "Example.org", "caf\xC3\xA9.fr",
                                                 "", "a b", "xn--caf-dma.fr", "*"};
  switch (choose(16)) {
    case 0: return "[]";
    case 1: return "\"example.org\"";
    case 2: return "[1]";
    case 3: return "null";
    default: break;
  }
  std::string list = "[";
  const std::size_t count = 1 + choose(2);
  for (std::size_t i = 0; i < count; ++i) {
    if (i) list += ",";
    std::string entry = urls && choose(2) ? urlFilter(choose) : std::string(pick(choose, domains));
    if (choose(2) == 0) entry = urls ? "^https://example\\.org/" : "example.org";
    list += jsonQuoted(entry);
  }
  return list + "]";
}

inline std::string flagList(const Choose& choose, const std::vector<std::string_view>& names) {
  switch (choose(12)) {
    case 0: return "\"" + std::string(names[0]) + "\"";
    case 1: return "[]";
    case 2: return "[7]";
    default: break;
  }
  std::string list = "[";
  const std::size_t count = 1 + choose(2);
  for (std::size_t i = 0; i < count; ++i) {
    if (i) list += ",";
    list += jsonQuoted(names[choose(2) ? 0 : choose(names.size())]);
  }
  return list + "]";
}

/// One rule as JSON text.
inline std::string rule(const Choose& choose) {
  static constexpr std::string_view conditions[] = {"if-domain",  "unless-domain", "if-top-url",
                                                    "unless-top-url", "if-frame-url", "unless-frame-url"};
  std::vector<std::string> trigger;
  switch (choose(24)) {
    case 0: break;  // no url-filter
    case 1: trigger.push_back("\"url-filter\":\"\""); break;
    case 2: trigger.push_back("\"url-filter\":3"); break;
    default: trigger.push_back("\"url-filter\":" + jsonQuoted(urlFilter(choose))); break;
  }
  const std::size_t conditionCount = choose(10) == 0 ? 2 : choose(3) == 0 ? 1 : 0;
  for (std::size_t i = 0; i < conditionCount; ++i) {
    std::string_view key = pick(choose, conditions);
    trigger.push_back(jsonQuoted(key) + ":" + conditionValue(choose, key.find("url") != std::string_view::npos));
  }
  if (choose(4) == 0) {
    trigger.push_back("\"resource-type\":" +
                      flagList(choose, {"image", "script", "style-sheet", "document", "Image", "xmlhttprequest"}));
  }
  if (choose(5) == 0) trigger.push_back("\"load-type\":" + flagList(choose, {"third-party", "first-party", "3p"}));
  if (choose(8) == 0) trigger.push_back("\"load-context\":" + flagList(choose, {"top-frame", "child-frame", "top"}));
  if (choose(10) == 0) trigger.push_back("\"url-filter-is-case-sensitive\":true");

  std::string text = "{";
  if (choose(20) != 0) {
    text += "\"trigger\":{";
    for (std::size_t i = 0; i < trigger.size(); ++i) text += (i ? "," : "") + trigger[i];
    text += "},";
  }
  switch (choose(10)) {
    case 0: text += "\"action\":{}"; break;
    case 1: text += "\"action\":{\"type\":\"ignore-previous-rules\"}"; break;
    case 2:
    case 3: {
      static constexpr std::string_view selectors[] = {".ad", "#banner > div", "", "[", "a,b"};
      text += "\"action\":{\"type\":\"css-display-none\"";
      const std::size_t selector = choose(6);
      if (selector < 5) text += ",\"selector\":" + jsonQuoted(selectors[selector]);
      text += "}";
      break;
    }
    default: text += "\"action\":{\"type\":\"block\"}"; break;
  }
  return text + "}";
}

}  // namespace fendrel::rule_shapes
