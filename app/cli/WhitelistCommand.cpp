#include <optional>
#include <string>

#include "app/cli/Commands.h"
#include "app/cli/EventLog.h"
#include "app/core/SettingsKeys.h"
#include "app/core/Singleton.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/Error.h"
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

/// Applies the change as the whitelist screens do; the reason when it cannot be made.
std::optional<std::string> changeWhitelist(const std::string& action, const std::string& argument) {
  Singleton& singleton = Singleton::shared();
  foundation::Result<void> changed;
  if (action == "add") {
    changed = singleton.addWhitelistElement(argument, true);
  } else {
    const std::int64_t position = parsePosition(argument).value_or(-1);
    const auto entries = singleton.whitelist();
    if (position >= 0 && static_cast<std::size_t>(position) < entries.size()) {
      changed = action == "remove" ? singleton.removeWhitelistElement(position)
                                   : singleton.updateWhitelistElement(
                                         position, entries[static_cast<std::size_t>(position)].url, action == "enable");
    } else {
      changed = foundation::Error::withDescription(Singleton::kErrorDomain,
                                                   static_cast<std::int64_t>(Singleton::Error::noWhitelistEntry), "");
    }
  }
  if (changed) return std::nullopt;
  return singleton.whitelistFailureReason(changed.error());
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
  // What the change replaces: the list as stored (entries of a wrong form included) and its date.
  auto defaults = Singleton::shared().userDefs();
  const foundation::Value storedList = defaults->object(settings::kWhitelistKey);
  const foundation::Value storedDate = defaults->object(settings::kWhitelistDateKey);
  if (auto reason = changeWhitelist(action, argument)) return runtimeError("cannot " + what + ": " + *reason);
  // Put back with its date, so that no later start compiles it again: the browser still holds the
  // rules of the earlier list.
  auto undo = [&]() -> foundation::Result<void> {
    auto restore = [&](const char* key, const foundation::Value& value) {
      return value.isAbsent() ? defaults->removeObject(key) : defaults->set(key, value);
    };
    if (auto restored = restore(settings::kWhitelistKey, storedList); !restored) return restored;
    return restore(settings::kWhitelistDateKey, storedDate);
  };
  // Back from the whitelist screen, the main screen appears again and compiles the change.
  session.appear();
  return settleAndJudge(session, mark, what, undo);
}

}  // namespace fendrel::cli
