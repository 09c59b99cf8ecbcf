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
  /// The entries that may stand in a rule file: lower-cased, and only those that then are valid
  /// domains for the browser's rule format (see isValidRuleDomain). One entry the browser refuses
  /// would make it reject the whole file.
  std::vector<std::string> ruleDomains;
  /// The rule domains without repetitions: the "unless-domain" of every rule that has none of its
  /// own. Made once and shared by all those rules rather than rebuilt for each.
  foundation::Array unlessDomains;

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

/// Applies the whitelist to one rule; none when the rule is to be dropped. With an empty whitelist
/// the rule is returned unchanged. Otherwise, by the rule's trigger:
///   - "if-domain" as a list of strings: the whitelisted sites are removed from it; when none is
///     left the rule is dropped (every site it was limited to is whitelisted). No "unless-domain"
///     is added, since a trigger may hold only one of the four domain and top-URL conditions.
///   - "if-top-url", "unless-top-url", "if-frame-url" or "unless-frame-url": unchanged. Such a
///     trigger cannot also carry "unless-domain" (the browser refuses the whole file), and the
///     whitelist cannot be expressed as a URL pattern faithfully.
///   - "if-domain" of another form, or no trigger object: unchanged (the browser refuses such a
///     rule on its own; adding to it cannot help).
///   - otherwise "unless-domain" becomes the rule's own entries followed by the whitelist's rule
///     domains not already present. When that list would be empty nothing is written, and an
///     "unless-domain" that is not a list of strings is left as it is.
std::optional<json::JSON> applyWhitelist(json::JSON rule, const RuleWhitelist& whitelist);

}  // namespace fendrel
