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
};

const char* name(Verdict verdict);

/// One child program, started on first use and again after a crash.
class WebKitRuleVerdicts {
 public:
  /// `program` is the verdict program; its compiled lists go to a temporary folder of its own.
  explicit WebKitRuleVerdicts(std::string program);
  ~WebKitRuleVerdicts();
  WebKitRuleVerdicts(const WebKitRuleVerdicts&) = delete;
  WebKitRuleVerdicts& operator=(const WebKitRuleVerdicts&) = delete;

  /// WebKit's verdict on `ruleFile` (compact JSON without line breaks). `message` gets WebKit's
  /// error text when it gave one.
  Verdict judge(std::string_view ruleFile, std::string* message = nullptr);

 private:
  bool start();
  void stop();

  std::string program_;
  std::string folder_;
  pid_t child_ = -1;
  int toChild_ = -1;
  int fromChild_ = -1;
  std::string pending_;
};

}  // namespace fendrel::testing_webkit
