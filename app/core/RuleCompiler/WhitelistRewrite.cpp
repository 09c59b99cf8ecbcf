#include "app/core/RuleCompiler/WhitelistRewrite.h"

#include <algorithm>
#include <utility>

#include "json/JSON.h"
#include "platform/foundation/StringArray.h"
#include "platform/foundation/TextCase.h"

namespace fendrel {
namespace {

using foundation::Array;
using json::JSON;

constexpr const char* kTrigger = "trigger";
constexpr const char* kIfDomain = "if-domain";

bool isDomainCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

}  // namespace

RuleWhitelist RuleWhitelist::make(std::vector<std::string> enabledEntries) {
  RuleWhitelist whitelist;
  for (const auto& entry : enabledEntries) {
    std::string domain = foundation::lowercased(entry);
    if (!isValidRuleDomain(domain)) continue;
    auto& domains = whitelist.ruleDomains;
    if (std::find(domains.begin(), domains.end(), domain) == domains.end()) domains.push_back(std::move(domain));
  }
  whitelist.stored = std::move(enabledEntries);
  return whitelist;
}

bool isValidRuleDomain(std::string_view domain) {
  if (!domain.empty() && domain.front() == '*') domain.remove_prefix(1);
  return !domain.empty() && std::all_of(domain.begin(), domain.end(), isDomainCharacter);
}

std::optional<std::vector<std::string>> stringArray(const foundation::Array& values) {
  std::vector<std::string> strings;
  strings.reserve(values.size());
  for (const auto& value : values) {
    const std::string* s = value.string();
    if (!s) return std::nullopt;
    strings.push_back(*s);
  }
  return strings;
}

std::vector<std::string> removeWhitelistedDomains(const std::vector<std::string>& domains,
                                                  const std::vector<std::string>& whitelist) {
  std::vector<std::string> kept;
  kept.reserve(domains.size());
  for (const auto& domain : domains) {
    if (std::find(whitelist.begin(), whitelist.end(), domain) == whitelist.end()) kept.push_back(domain);
  }
  return kept;
}

std::optional<json::JSON> applyWhitelist(json::JSON rule, const RuleWhitelist& whitelist) {
  if (whitelist.empty()) return rule;
  const foundation::Dictionary* conditions = rule.object()[kTrigger].dictionary();
  if (!conditions) return rule;
  const foundation::Value* ifDomain = conditions->find(kIfDomain);
  if (!ifDomain) return rule;
  const Array* list = ifDomain->array();
  std::optional<std::vector<std::string>> domains = list ? stringArray(*list) : std::nullopt;
  if (!domains) return rule;
  auto kept = removeWhitelistedDomains(*domains, whitelist.stored);
  if (kept.empty()) return std::nullopt;
  if (kept.size() != domains->size()) {
    rule.modify({kTrigger}, [&](JSON& trigger) {
      trigger.set(kIfDomain, JSON(foundation::Value(foundation::arrayOfStrings(kept))));
    });
  }
  return rule;
}

std::optional<foundation::Value> whitelistExceptionRule(const RuleWhitelist& whitelist) {
  if (whitelist.ruleDomains.empty()) return std::nullopt;
  foundation::Dictionary trigger;
  trigger.set("url-filter", ".*");
  trigger.set(kIfDomain, foundation::arrayOfStrings(whitelist.ruleDomains));
  foundation::Dictionary action;
  action.set("type", "ignore-previous-rules");
  foundation::Dictionary rule;
  rule.set(kTrigger, std::move(trigger));
  rule.set("action", std::move(action));
  return foundation::Value(std::move(rule));
}

}  // namespace fendrel
