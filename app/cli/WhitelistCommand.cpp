#include "app/cli/Commands.h"
#include "app/cli/EventLog.h"
#include "app/core/Singleton.h"
#include "platform/foundation/Value.h"

namespace fendrel::cli {
namespace {

int listWhitelist() {
  for (const WhitelistElement& entry : Singleton::shared().whitelist()) {
    EventLog::shared().result(
        foundation::Dictionary{{"index", entry.index}, {"url", entry.url}, {"enabled", entry.enabled}});
  }
  return kExitSuccess;
}

/// Applies the change as the whitelist screens do; false when the position is outside the list.
bool changeWhitelist(const std::string& action, const std::string& argument) {
  Singleton& singleton = Singleton::shared();
  if (action == "add") {
    singleton.addWhitelistElement(argument, true);
    return true;
  }
  const std::int64_t position = parsePosition(argument).value_or(-1);
  if (action == "remove") return singleton.removeWhitelistElement(position);
  const auto entries = singleton.whitelist();
  if (position < 0 || static_cast<std::size_t>(position) >= entries.size()) return false;
  return singleton.updateWhitelistElement(position, entries[static_cast<std::size_t>(position)].url,
                                          action == "enable");
}

}  // namespace

int runWhitelist(const Invocation& invocation) {
  const std::string& action = invocation.arguments.at(0);
  if (action == "list") EventLog::shared().setEventsToStandardError(true);
  AppSession session(invocation.timeoutSeconds);
  if (auto status = launchAndSettle(session)) return *status;
  if (action == "list") return listWhitelist();

  const std::string& argument = invocation.arguments.at(1);
  const std::string what = "whitelist " + action + " '" + argument + "'";
  const auto mark = session.compileMark();
  if (!changeWhitelist(action, argument)) {
    const auto size = Singleton::shared().whitelist().size();
    return runtimeError("cannot " + what + ": no whitelist entry at that position (the whitelist has " +
                        std::to_string(size) + (size == 1 ? " entry)" : " entries)"));
  }
  // Back from the whitelist screen, the main screen appears again and compiles the change.
  session.appear();
  return settleAndJudge(session, mark, what);
}

}  // namespace fendrel::cli
