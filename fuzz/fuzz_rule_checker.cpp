// Holds the rule checker to WebKit's own content-blocker compiler: for every input, a URL filter
// taken from the raw bytes and a rule built from them get the checker's verdict and WebKit's (in a
// child program, so that an abort of WebKit's compiler is a verdict too). Any difference stops
// the run with both verdicts printed; a refusal for cost differs only from a quick compile (see
// sameVerdict).

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/core/RuleCompiler/RuleChecker.h"
#include "app/core/tests/RuleShapes.h"
#include "app/core/tests/WebKitRuleVerdict.h"
#include "platform/foundation/JSONSerialization.h"
#include "platform/foundation/Value.h"

namespace {

using fendrel::testing_webkit::Verdict;

fendrel::testing_webkit::WebKitRuleVerdicts& webkit() {
  // Destroyed at exit, which ends the child program and removes its folder.
  static fendrel::testing_webkit::WebKitRuleVerdicts verdicts(FENDREL_WEBKIT_VERDICT);
  return verdicts;
}

void compare(const foundation::Value& rule) {
  auto compact = foundation::JSONSerialization::dataWithJSONObject(rule);
  if (!compact) return;  // not writable (for example not UTF-8): never reaches the browser
  const auto checker = fendrel::testing_webkit::checkerVerdict(rule);
  fendrel::testing_webkit::Details details;
  const Verdict verdict = webkit().judge("[" + *compact + "]", &details);
  const std::string* type = rule["action"]["type"].string();
  const bool css = type && *type == "css-display-none";
  if (fendrel::testing_webkit::sameVerdict(checker, css, verdict, details.seconds)) return;
  const auto fault = fendrel::checkRule(rule);
  std::fprintf(stderr, "checker and WebKit disagree on %s\n  checker: %s\n  WebKit: %s %s (%.3f s of processor time)\n",
               compact->c_str(), fault ? std::string(fendrel::describe(*fault)).c_str() : "keeps",
               fendrel::testing_webkit::name(verdict), details.message.c_str(), details.seconds);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The raw bytes as a URL filter.
  {
    foundation::Dictionary trigger;
    trigger.set("url-filter", std::string(reinterpret_cast<const char*>(data), size));
    foundation::Dictionary action;
    action.set("type", "block");
    foundation::Dictionary rule;
    rule.set("trigger", std::move(trigger));
    rule.set("action", std::move(action));
    compare(foundation::Value(std::move(rule)));
  }
  // A rule whose shape the bytes choose.
  std::size_t next = 0;
  fendrel::rule_shapes::Choose choose = [&](std::size_t count) -> std::size_t {
    if (next >= size) return 0;
    return data[next++] % count;
  };
  auto parsed = foundation::JSONSerialization::JSONObjectWithData(fendrel::rule_shapes::rule(choose));
  if (parsed) compare(*parsed);
  return 0;
}
