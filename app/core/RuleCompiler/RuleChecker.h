#pragma once
#include <cstddef>
#include <optional>
#include <string_view>

#include "platform/foundation/ValueFwd.h"

namespace simdjson::dom {
class element;
}

namespace fendrel {

/// Why the browser's content blocker would refuse a rule. One such rule makes the browser refuse
/// the whole rule file, so the compiler leaves it out instead.
enum class RuleFault : std::size_t {
  NotAnObject,
  NoTrigger,
  NoAction,
  NoActionType,
  NoURLFilter,
  NonASCIIURLFilter,
  UnsupportedURLFilter,
  BadDomainList,
  DomainNotLowerCaseASCII,
  BadURLList,
  SeveralConditions,
  BadResourceType,
  BadLoadType,
  BadLoadContext,
  BadRequestMethod,
  NoSelector,
  CostlyURLFilter,
};
inline constexpr std::size_t kRuleFaultCount = static_cast<std::size_t>(RuleFault::CostlyURLFilter) + 1;

/// A short English text for the command line ("url-filter is not a supported regular expression").
std::string_view describe(RuleFault fault);

/// Checks one rule against the browser's content-blocker format: none when the browser takes it.
///   - the rule is an object with a "trigger" object and an "action" object whose "type" is a
///     string; "css-display-none" needs a non-empty string "selector";
///   - "url-filter" is a non-empty ASCII string in the browser's regular-expression subset
///     (see isSupportedURLFilter);
///   - at most one of "if-domain", "unless-domain", "if-top-url", "unless-top-url",
///     "if-frame-url", "unless-frame-url"; a domain list is a non-empty array of non-empty strings
///     without upper-case or non-ASCII characters; a URL list is a non-empty array of non-empty
///     strings, each a supported filter;
///   - "resource-type", "load-type" and "load-context" are arrays of the browser's names;
///     "request-method" is one lower-case method name.
/// The action type itself is not judged here: the compiler keeps only the types it buckets.
std::optional<RuleFault> checkRule(const foundation::Value& rule);
/// The same checks on a rule of a parsed document, as the compiler reads lists.
std::optional<RuleFault> checkRule(const simdjson::dom::element& rule);
/// The same checks on a rule of a parsed document whose parts the caller has found already: an
/// object with `trigger` (an object) as its "trigger" and an "action" object whose "type" is the
/// string `type` and whose "selector" is `selector` (none when absent or not a string), each the
/// last of repeated keys. Gives what checkRule gives for that rule.
std::optional<RuleFault> checkRuleParts(const simdjson::dom::element& trigger, std::string_view type,
                                        std::optional<std::string_view> selector);

enum class URLFilterVerdict {
  Supported,
  /// The browser refuses it.
  Unsupported,
  /// The browser takes it, but its compiler would need unreasonably long or too much memory:
  /// a deterministic matcher of more than 98,304 states (one for every set of places in the
  /// filter a URL can be at once; "a" followed by 16 "." has 131,072, "abc" followed by 26 "."
  /// 85,626, as its start cannot overlap itself as often), or of more than 8.4 million places in
  /// all its states together (4,095 "a" in a row), or longer than 8,192 characters and more than
  /// plain text. Such a filter takes the browser's compiler seconds; it is left out rather than
  /// slow the whole rule file.
  TooCostly,
};

/// Judges `filter` as a url-filter (see isSupportedURLFilter and URLFilterVerdict), in one scan.
URLFilterVerdict judgeURLFilter(std::string_view filter);

/// True when the browser's compiler accepts `filter` as a URL filter at a reasonable cost (see
/// URLFilterVerdict): ASCII, not empty, JavaScript regular-expression syntax without
/// alternatives, character-class escapes (\d \w \s and their negations), word boundaries, look-around or named back-references; repetition only as "?", "*",
/// "+" (or their {0,1}, {0,}, {1,} spellings); "^" only before every other term and "$" only as the
/// last term, neither inside a group; no character outside ASCII, also through an escape; a NUL
/// character only as the last term outside groups (the browser uses it to mark the end of a URL).
bool isSupportedURLFilter(std::string_view filter);

}  // namespace fendrel
