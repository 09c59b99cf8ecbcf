#pragma once
// Test support: WebKit's own verdict on rule files, from a child program that runs WebKit's
// content-blocker compiler, so that a compiler abort is a verdict and not the end of the test.

#include <string>
#include <string_view>
#include <sys/types.h>

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

/// Whether the checker's verdict (kept when `kept`) matches WebKit's on a one-rule file. A
/// css-display-none rule whose selector WebKit cannot parse is dropped alone (the rest of a file
/// still compiles), so keeping it matches; a compile WebKit did not finish gives nothing to compare.
inline bool sameVerdict(bool kept, bool cssDisplayNone, Verdict verdict) {
  if (verdict == Verdict::TimedOut) return true;
  if (!kept) return verdict != Verdict::Accepted;
  return verdict == Verdict::Accepted || (cssDisplayNone && verdict == Verdict::Dropped);
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

  /// WebKit's verdict on `ruleFile` (compact JSON without line breaks), within `limitSeconds`.
  /// `message` gets WebKit's error text when it gave one.
  Verdict judge(std::string_view ruleFile, std::string* message = nullptr, double limitSeconds = 3.0);

 private:
  bool start();
  void stop();
  Verdict judgeInChild(std::string_view ruleFile, std::string* message, double limitSeconds);
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
