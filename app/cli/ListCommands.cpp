#include <set>

#include "app/cli/Commands.h"
#include "app/cli/EventLog.h"
#include "app/cli/PrintingListCell.h"
#include "app/core/ListElement.h"
#include "app/core/SharedAux.h"
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
  const bool wasEnabled = Singleton::shared().extConfigIDs().contains(id);
  // What the list's switch in the main screen does. A change that cannot be stored is not made.
  if (auto changed = element->setEnabled(enable); !changed) {
    return runtimeError("cannot " + what + ": the settings cannot be stored: " + changed.error().localizedDescription());
  }
  // Put back without a compilation: the browser still holds the rules of the earlier set.
  auto undo = [&]() -> foundation::Result<void> {
    return wasEnabled ? SharedAux::shared().enableList(element->obj()) : SharedAux::shared().disableList(element->obj());
  };
  const int status = settleAndJudge(session, mark, what, undo);
  if (status != kExitSuccess || !enable) return status;
  // The switch shows the list enabled even when its file never arrived; the browser then has
  // none of its rules, which is not what was asked for.
  if (!element->obj().existingAttachmentURL()) {
    return runtimeError("cannot " + what +
                        ": its rule file could not be downloaded, so the browser has none of its rules (the list "
                        "stays enabled and is compiled once its file is downloaded)");
  }
  return kExitSuccess;
}

}  // namespace fendrel::cli
