#pragma once
// Test support: WebKit's own verdict on rule files, from a child program that runs WebKit's
// content-blocker compiler, so that a compiler abort is a verdict and not the end of the test.

#include <string>
#include <string_view>
#include <sys/types.h>

#include "platform/foundation/ValueFwd.h"

namespace fendrel::testing_webkit {

enum class Verdict {
  Accepted,
  /// WebKit refused the file with an error.
  Refused,
  /// WebKit compiled nothing: every rule of the file was dropped on its own (a css-display-none
  /// rule whose selector it cannot parse), so it answered "Empty extension.".
  Dropped,
  /// WebKit's compiler aborted.
  Crashed,
  /// WebKit's compiler was still working after the time limit and was stopped. Some filters make
  /// its work grow exponentially (a letter followed by sixteen "." takes about ten seconds).
  TimedOut,
};

const char* name(Verdict verdict);

/// What WebKit said besides its verdict.
struct Details {
  /// WebKit's error text, when it gave one.
  std::string message;
  /// The processor time WebKit spent on a file it accepted (all its threads). A busy machine
  /// stretches the time on the clock several times over, but this far less.
  double seconds = 0;
};

/// How the rule checker judged a rule.
enum class CheckerVerdict {
  Kept,
  Refused,
  /// Left out only because WebKit's compiler would need too long or too much memory for it.
  RefusedForCost,
};

/// The checker's verdict on `rule`, telling a refusal for cost (of the url-filter or of a URL in
/// a condition) from any other.
CheckerVerdict checkerVerdict(const foundation::Value& rule);

/// Processor time below which WebKit compiled a file quickly. The checker's cost limits lie where
/// WebKit needs a second or more on an idle machine (its cheapest filters beyond them: about two),
/// so a refusal for cost meets a compile this quick only when a limit is wrong. Between this and
/// the time limit of a check lies the band where WebKit's own verdict depends on the machine and
/// the filter's finer shape; there a refusal for cost agrees with WebKit whatever it answered.
inline constexpr double kQuickCompileSeconds = 0.25;

/// Whether the checker's verdict matches WebKit's on a one-rule file:
///   - a kept rule must compile; a css-display-none rule whose selector WebKit cannot parse is
///     dropped alone (the rest of a file still compiles), so keeping it matches too;
///   - a refused rule must be refused (or crash WebKit's compiler);
///   - a rule refused for cost may compile, but not quickly (see kQuickCompileSeconds);
///   - a compile WebKit did not finish within the limit gives nothing to compare.
inline bool sameVerdict(CheckerVerdict checker, bool cssDisplayNone, Verdict verdict, double seconds) {
  if (verdict == Verdict::TimedOut) return true;
  switch (checker) {
    case CheckerVerdict::Kept:
      return verdict == Verdict::Accepted || (cssDisplayNone && verdict == Verdict::Dropped);
    case CheckerVerdict::Refused:
      return verdict != Verdict::Accepted;
    case CheckerVerdict::RefusedForCost:
      return verdict != Verdict::Accepted || seconds >= kQuickCompileSeconds;
  }
  return false;
}

/// One child program, started on first use and again after a crash.
class WebKitRuleVerdicts {
 public:
  /// `program` is the verdict program; its compiled lists and WebKit's temporary files go to a
  /// temporary folder of its own, emptied after every check and removed with this object.
  explicit WebKitRuleVerdicts(std::string program);
  ~WebKitRuleVerdicts();
  WebKitRuleVerdicts(const WebKitRuleVerdicts&) = delete;
  WebKitRuleVerdicts& operator=(const WebKitRuleVerdicts&) = delete;

  /// WebKit's verdict on `ruleFile` (compact JSON without line breaks), within `limitSeconds` on
  /// the clock. `details` gets WebKit's error text or the processor time it took.
  Verdict judge(std::string_view ruleFile, Details* details = nullptr, double limitSeconds = 3.0);

 private:
  bool start();
  void stop();
  Verdict judgeInChild(std::string_view ruleFile, Details* details, double limitSeconds);
  /// Removes what the last check left in the child's folders.
  void clearWork() const;

  std::string program_;
  std::string folder_;
  pid_t child_ = -1;
  int toChild_ = -1;
  int fromChild_ = -1;
  std::string pending_;
};

}  // namespace fendrel::testing_webkit
