#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Value.h"

namespace json {
class JSON;
}

namespace fendrel {

/// The whitelist as one compilation uses it.
struct RuleWhitelist {
  /// The enabled entries exactly as stored, in order, duplicates kept. Sites are removed from a
  /// rule's "if-domain" only on an exact, case-sensitive match with one of these.
  std::vector<std::string> stored;
  /// The entries that may stand in a rule file: lower-cased, only those that then are valid
  /// domains for the browser's rule format (see isValidRuleDomain), without repetitions, in stored
  /// order. One entry the browser refuses would make it reject the whole file.
  std::vector<std::string> ruleDomains;

  /// From the enabled entries as stored.
  static RuleWhitelist make(std::vector<std::string> enabledEntries);
  bool empty() const { return stored.empty(); }
};

/// True for ASCII letters, digits, "-" and "." with an optional leading "*" (which makes the entry
/// cover subdomains), and at least one character besides the "*".
bool isValidRuleDomain(std::string_view domain);

/// The elements as strings when every one is a string (an empty list gives an empty list); none as
/// soon as one element is not a string.
std::optional<std::vector<std::string>> stringArray(const foundation::Array& values);

/// The entries of `domains`, in order and with their repetitions, that are not exactly equal
/// (case-sensitive, whole string) to an entry of `whitelist`.
std::vector<std::string> removeWhitelistedDomains(const std::vector<std::string>& domains,
                                                  const std::vector<std::string>& whitelist);

/// Applies the whitelist to one rule; none when the rule is to be dropped. When the rule's trigger
/// has "if-domain" as a list of strings, the whitelisted sites are removed from it, and the rule is
/// dropped when none is left (every site it was limited to is whitelisted). Every other rule is
/// returned unchanged: the whitelist reaches them through the one exception rule at the end of the
/// file (whitelistExceptionRule).
std::optional<json::JSON> applyWhitelist(json::JSON rule, const RuleWhitelist& whitelist);

/// The rule that lifts every earlier rule on the whitelisted sites, written after all others:
/// {"trigger":{"url-filter":".*","if-domain":[rule domains]},"action":{"type":"ignore-previous-rules"}}.
/// None when the whitelist has no rule domain.
std::optional<foundation::Value> whitelistExceptionRule(const RuleWhitelist& whitelist);

}  // namespace fendrel
