#pragma once

namespace browser {
class ExtensionContext;
}

namespace quellbox {

/// The content-blocker extension's request handler: answers the browser's request for blocking
/// rules with one item whose only attachment is a rule file, chosen anew at each request:
///   1. "output.json" in the root of the app group "group.com.morvit.Fendrel"'s container, which
///      the app compiles; when there is no container or no readable file,
///   2. "fallback.json", the rule file built into the extension's bundle; when that is missing or
///      unreadable too, the request is cancelled with an error (kQuellboxErrorDomain, code 1).
/// The handler never reads the rules and never writes anything; it keeps no state. It answers on
/// the calling thread before it returns.
class ActionRequestHandler {
 public:
  void beginRequest(browser::ExtensionContext& context) const;
};

/// Domain of the one error the extension reports: no rule file at all (code 1).
inline constexpr const char* kQuellboxErrorDomain = "com.morvit.Fendrel.Quellbox";
inline constexpr long long kQuellboxNoRuleFileCode = 1;

}  // namespace quellbox
