#include "app/core/tests/WebKitRuleVerdict.h"

#include "app/core/RuleCompiler/RuleChecker.h"
#include "platform/foundation/Value.h"

#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>
#include <poll.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <vector>

extern char** environ;

namespace fendrel::testing_webkit {

const char* name(Verdict verdict) {
  switch (verdict) {
    case Verdict::Accepted: return "accepted";
    case Verdict::Refused: return "refused";
    case Verdict::Dropped: return "dropped";
    case Verdict::Crashed: return "crashed";
    case Verdict::TimedOut: return "timed out";
  }
  return "?";
}

CheckerVerdict checkerVerdict(const foundation::Value& rule) {
  const auto fault = checkRule(rule);
  if (!fault) return CheckerVerdict::Kept;
  if (*fault == RuleFault::CostlyURLFilter) return CheckerVerdict::RefusedForCost;
  if (*fault != RuleFault::BadURLList) return CheckerVerdict::Refused;
  // A URL condition refused as a whole: for cost when one of its URLs is costly. WebKit refuses
  // the rule anyway when another is unsupported, which any refusal matches.
  for (const char* key : {"if-top-url", "unless-top-url", "if-frame-url", "unless-frame-url"}) {
    const foundation::Array* urls = rule["trigger"][key].array();
    if (!urls) continue;
    for (const foundation::Value& url : *urls) {
      const std::string* text = url.string();
      if (text && judgeURLFilter(*text) == URLFilterVerdict::TooCostly) return CheckerVerdict::RefusedForCost;
    }
  }
  return CheckerVerdict::Refused;
}

WebKitRuleVerdicts::WebKitRuleVerdicts(std::string program) : program_(std::move(program)) {
  std::string pattern = (std::filesystem::temp_directory_path() / "fendrel-verdict-XXXXXX").string();
  if (::mkdtemp(pattern.data())) {
    folder_ = pattern;
    std::error_code ignored;
    std::filesystem::create_directory(folder_ + "/work", ignored);
  }
  // A child that died must not kill the writer with SIGPIPE.
  ::signal(SIGPIPE, SIG_IGN);
}

WebKitRuleVerdicts::~WebKitRuleVerdicts() {
  stop();
  if (!folder_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
}

bool WebKitRuleVerdicts::start() {
  int in[2], out[2];
  if (::pipe2(in, O_CLOEXEC) != 0) return false;
  if (::pipe2(out, O_CLOEXEC) != 0) {
    ::close(in[0]);
    ::close(in[1]);
    return false;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  // WebKit explains every refusal on standard error as well; the verdict line carries it already.
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::string store = folder_ + "/store";
  char* argv[] = {program_.data(), store.data(), nullptr};
  // WebKit writes its temporary files to $TMPDIR and leaves them there when it refuses a file or
  // is stopped: the child's point at the work folder, which is emptied after every check.
  std::vector<std::string> variables;
  for (char** variable = environ; *variable; ++variable) {
    if (std::string_view(*variable).starts_with("TMPDIR=")) continue;
    variables.emplace_back(*variable);
  }
  variables.push_back("TMPDIR=" + folder_ + "/work");
  std::vector<char*> envp;
  for (auto& variable : variables) envp.push_back(variable.data());
  envp.push_back(nullptr);
  const int spawned = ::posix_spawn(&child_, program_.c_str(), &actions, nullptr, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(in[0]);
  ::close(out[1]);
  if (spawned != 0) {
    ::close(in[1]);
    ::close(out[0]);
    child_ = -1;
    return false;
  }
  toChild_ = in[1];
  fromChild_ = out[0];
  return true;
}

void WebKitRuleVerdicts::stop() {
  if (toChild_ >= 0) ::close(toChild_);
  if (fromChild_ >= 0) ::close(fromChild_);
  toChild_ = fromChild_ = -1;
  if (child_ > 0) {
    int status = 0;
    while (::waitpid(child_, &status, 0) < 0 && errno == EINTR) {
    }
  }
  child_ = -1;
  pending_.clear();
}

void WebKitRuleVerdicts::clearWork() const {
  // The child is idle (it answered) or gone: nothing of the next check is in these folders yet.
  for (const char* sub : {"/work", "/store"}) {
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(folder_ + sub, ignored)) {
      std::filesystem::remove_all(entry.path(), ignored);
    }
  }
}

Verdict WebKitRuleVerdicts::judge(std::string_view ruleFile, Details* details, double limitSeconds) {
  const Verdict verdict = judgeInChild(ruleFile, details, limitSeconds);
  clearWork();
  return verdict;
}

Verdict WebKitRuleVerdicts::judgeInChild(std::string_view ruleFile, Details* details, double limitSeconds) {
  if (child_ < 0 && !start()) return Verdict::Crashed;
  std::string request(ruleFile);
  request.push_back('\n');
  std::size_t written = 0;
  while (written < request.size()) {
    ssize_t n = ::write(toChild_, request.data() + written, request.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    written += static_cast<std::size_t>(n);
  }
  std::string line;
  for (;;) {
    auto end = pending_.find('\n');
    if (end != std::string::npos) {
      line = pending_.substr(0, end);
      pending_.erase(0, end + 1);
      break;
    }
    pollfd ready{fromChild_, POLLIN, 0};
    const int polled = ::poll(&ready, 1, static_cast<int>(limitSeconds * 1000));
    if (polled < 0 && errno == EINTR) continue;
    if (polled == 0) {
      ::kill(child_, SIGKILL);
      stop();
      return Verdict::TimedOut;
    }
    char buffer[4096];
    ssize_t n = ::read(fromChild_, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      stop();
      return Verdict::Crashed;
    }
    pending_.append(buffer, static_cast<std::size_t>(n));
  }
  if (line.starts_with("OK")) {
    // "OK <processor seconds>"
    if (details && line.size() > 3) details->seconds = std::strtod(line.c_str() + 3, nullptr);
    return Verdict::Accepted;
  }
  std::string text = line.size() > 4 ? line.substr(4) : line;
  if (details) details->message = text;
  return text == "Empty extension." ? Verdict::Dropped : Verdict::Refused;
}

}  // namespace fendrel::testing_webkit
