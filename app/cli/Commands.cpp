#include "app/cli/Commands.h"

#include "app/cli/EventLog.h"

namespace fendrel::cli {

int runtimeError(const std::string& message) {
  EventLog::shared().diagnostic(std::string(kProgram) + ": error: " + message);
  return kExitFailure;
}

std::optional<int> settle(AppSession& session) {
  switch (session.runUntilQuiet()) {
    case AppSession::Wait::Quiet:
      return std::nullopt;
    case AppSession::Wait::Interrupted:
      EventLog::shared().diagnostic(std::string(kProgram) + ": interrupted");
      return kExitInterrupted;
    case AppSession::Wait::TimedOut:
      break;
  }
  EventLog::shared().diagnostic(std::string(kProgram) + ": error: the app did not become quiet within " +
                                EventLog::jsonText(session.timeoutSeconds()) +
                                " seconds (try a longer --timeout)");
  return kExitTimeout;
}

std::optional<int> launchAndSettle(AppSession& session) {
  auto launched = session.launch();
  if (!launched) {
    return runtimeError("cannot prepare the device root: " + launched.error().localizedDescription());
  }
  return settle(session);
}

int settleAndJudge(AppSession& session, const AppSession::CompileMark& mark, const std::string& what) {
  if (auto status = settle(session)) return *status;
  auto outcome = session.compileOutcomeSince(mark);
  if (!outcome.ok) return runtimeError("cannot " + what + ": " + outcome.detail);
  return kExitSuccess;
}

int runLaunch(const Invocation& invocation) {
  AppSession session(invocation.timeoutSeconds);
  const auto mark = session.compileMark();
  auto launched = session.launch();
  if (!launched) {
    return runtimeError("cannot prepare the device root: " + launched.error().localizedDescription());
  }
  return settleAndJudge(session, mark, "bring the browser's rules up to date");
}

}  // namespace fendrel::cli
