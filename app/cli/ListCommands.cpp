#include <set>

#include "app/cli/Commands.h"
#include "app/cli/EventLog.h"
#include "app/cli/PrintingListCell.h"
#include "app/core/ListElement.h"
#include "app/core/Singleton.h"
#include "platform/foundation/Value.h"

namespace fendrel::cli {

int runLists(const Invocation& invocation) {
  EventLog::shared().setEventsToStandardError(true);
  AppSession session(invocation.timeoutSeconds);
  if (auto status = launchAndSettle(session)) return *status;

  Singleton& singleton = Singleton::shared();
  const std::set<std::string> enabled = singleton.extConfigIDs();
  for (const auto& element : *singleton.lists()) {
    const CloudObject& obj = element->obj();
    auto cached = obj.existingAttachmentURL();
    EventLog::shared().result(foundation::Dictionary{
        {"id", obj.objectId()},
        {"name", obj.name()},
        {"num", obj.num()},
        {"count", obj.count()},
        {"state", PrintingListCell::stateName(element->state().kind())},
        {"enabled", enabled.contains(obj.objectId())},
        {"cachedFile", cached ? foundation::Value(cached->path()) : foundation::Value(nullptr)},
    });
  }
  return kExitSuccess;
}

int runEnable(const Invocation& invocation, bool enable) {
  const std::string& id = invocation.arguments.at(0);
  const std::string what = std::string(enable ? "enable" : "disable") + " list '" + id + "'";
  AppSession session(invocation.timeoutSeconds);
  if (auto status = launchAndSettle(session)) return *status;

  auto element = session.listElement(id);
  if (!element) {
    const auto ids = session.listIdentifiers();
    if (ids.empty()) return runtimeError("cannot " + what + ": the catalogue is empty (no configuration is known)");
    std::string message = "cannot " + what + ": unknown list ID";
    if (auto match = closestMatch(id, ids)) message += " (did you mean '" + *match + "'?)";
    return runtimeError(message);
  }
  const auto mark = session.compileMark();
  // What the list's switch in the main screen does.
  element->setEnabled(enable);
  return settleAndJudge(session, mark, what);
}

}  // namespace fendrel::cli
