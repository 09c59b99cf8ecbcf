#include "app/core/RuleCompiler/WhitelistRewrite.h"

#include <algorithm>
#include <utility>

#include "json/JSON.h"

namespace fendrel {
namespace {

using foundation::Array;
using json::JSON;

constexpr const char* kTrigger = "trigger";
constexpr const char* kIfDomain = "if-domain";
constexpr const char* kUnlessDomain = "unless-domain";
constexpr const char* kIfTopURL = "if-top-url";
constexpr const char* kUnlessTopURL = "unless-top-url";
constexpr const char* kIfFrameURL = "if-frame-url";
constexpr const char* kUnlessFrameURL = "unless-frame-url";

bool isDomainCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

std::string lowercased(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

Array toArray(const std::vector<std::string>& strings) {
  Array array;
  array.reserve(strings.size());
  for (const auto& s : strings) array.push_back(s);
  return array;
}

/// Stores `domains` under `key` of the rule's trigger, by reading the trigger, changing it and
/// storing it back.
void setTriggerDomains(JSON& rule, const char* key, const Array& domains) {
  rule.modify({kTrigger}, [&](JSON& trigger) { trigger.set(key, JSON(foundation::Value(domains))); });
}

/// The rule's own "unless-domain" entries, then the whitelist's rule domains not already present.
std::vector<std::string> mergedUnlessDomains(std::vector<std::string> own, const RuleWhitelist& whitelist) {
  for (const auto& domain : whitelist.ruleDomains) {
    if (std::find(own.begin(), own.end(), domain) == own.end()) own.push_back(domain);
  }
  return own;
}

}  // namespace

RuleWhitelist RuleWhitelist::make(std::vector<std::string> enabledEntries) {
  RuleWhitelist whitelist;
  whitelist.ruleDomains.reserve(enabledEntries.size());
  for (const auto& entry : enabledEntries) {
    std::string domain = lowercased(entry);
    if (isValidRuleDomain(domain)) whitelist.ruleDomains.push_back(std::move(domain));
  }
  whitelist.stored = std::move(enabledEntries);
  whitelist.unlessDomains = toArray(mergedUnlessDomains({}, whitelist));
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
  const JSON trigger = rule[kTrigger];
  const foundation::Dictionary* conditions = trigger.object().dictionary();
  if (!conditions) return rule;

  if (const foundation::Value* ifDomain = conditions->find(kIfDomain)) {
    const Array* list = ifDomain->array();
    std::optional<std::vector<std::string>> domains = list ? stringArray(*list) : std::nullopt;
    if (!domains) return rule;
    auto kept = removeWhitelistedDomains(*domains, whitelist.stored);
    if (kept.empty()) return std::nullopt;
    if (kept.size() != domains->size()) setTriggerDomains(rule, kIfDomain, toArray(kept));
    return rule;
  }
  // A trigger holds at most one condition (domain, top URL or frame URL), so a rule limited by its
  // top or frame URL cannot take "unless-domain"; it stays as its list wrote it.
  for (const char* condition : {kIfTopURL, kUnlessTopURL, kIfFrameURL, kUnlessFrameURL}) {
    if (conditions->contains(condition)) return rule;
  }

  const foundation::Value* unlessDomain = conditions->find(kUnlessDomain);
  if (!unlessDomain) {
    if (!whitelist.unlessDomains.empty()) setTriggerDomains(rule, kUnlessDomain, whitelist.unlessDomains);
    return rule;
  }
  const Array* list = unlessDomain->array();
  auto own = list ? stringArray(*list) : std::nullopt;
  if (!own) return rule;
  std::size_t ownCount = own->size();
  auto merged = mergedUnlessDomains(std::move(*own), whitelist);
  if (merged.size() != ownCount) setTriggerDomains(rule, kUnlessDomain, toArray(merged));
  return rule;
}

}  // namespace fendrel
