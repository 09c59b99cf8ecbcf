#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiMigrateSessionInit.h"

#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiSession.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiLog.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiSerialization.h"
#include "platform/foundation/FileManager.h"

bool DozidiMigrateSessionInit::migrateSessionInit(const std::shared_ptr<const DozidiEnvelope>& envelope,
                                                  const std::string& envelopesDirPath,
                                                  const std::vector<std::string>& envelopeFilePaths) {
  if (!envelope) return false;
  for (const auto& item : envelope->items()) {
    if (item->header().type != "session") continue;
    auto session = DozidiSerialization::sessionWithData(item->data().view());
    if (!session || session->flagInit() != true) continue;
    if (setInitFlagOnNextEnvelopeWithSameSessionId(*session, envelopesDirPath, envelopeFilePaths)) return true;
  }
  return false;
}

bool DozidiMigrateSessionInit::setInitFlagOnNextEnvelopeWithSameSessionId(
    const DozidiSession& session, const std::string& envelopesDirPath,
    const std::vector<std::string>& envelopeFilePaths) {
  const auto& files = foundation::FileManager::defaultManager();
  for (const auto& name : envelopeFilePaths) {
    const std::string path = envelopesDirPath + "/" + name;
    auto contents = files.readFile(path);
    if (!contents) continue;
    auto envelope = DozidiSerialization::envelopeWithData(contents->view());
    if (!envelope) continue;
    if (setInitFlagIfContainsSameSessionId(session.sessionId(), *envelope, path)) return true;
  }
  return false;
}

bool DozidiMigrateSessionInit::setInitFlagIfContainsSameSessionId(const foundation::UUID& sessionId,
                                                                  const DozidiEnvelope& envelope,
                                                                  const std::string& envelopeFilePath) {
  const auto& items = envelope.items();
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (items[i]->header().type != "session") continue;
    auto session = DozidiSerialization::sessionWithData(items[i]->data().view());
    if (!session || session->sessionId() != sessionId) continue;
    session->setFlagInit();
    // A failed rewrite leaves the flag nowhere: the answer says so, and the search goes on.
    return storeSessionInit(envelope, *session, i, envelopeFilePath);
  }
  return false;
}

bool DozidiMigrateSessionInit::storeSessionInit(const DozidiEnvelope& envelope, const DozidiSession& session,
                                                std::size_t sessionItemIndex, const std::string& path) {
  const DozidiEnvelope updated(envelope.header(), replaceSessionEnvelopeItem(session, envelope, sessionItemIndex));
  foundation::Error error("", 0);
  auto data = DozidiSerialization::dataWithEnvelope(updated, &error);
  if (data) {
    auto written = foundation::FileManager::defaultManager().writeFileAtomically(path, *data);
    if (written) return true;
    error = written.error();
  }
  DozidiLog::logWithMessage(
      "Could not migrate session init, because storing the updated envelope failed: " + error.localizedDescription(),
      DozidiEventLevel::Error);
  return false;
}

DozidiEnvelopeItems DozidiMigrateSessionInit::replaceSessionEnvelopeItem(const DozidiSession& session,
                                                                         const DozidiEnvelope& envelope,
                                                                         std::size_t sessionItemIndex) {
  DozidiEnvelopeItems items;
  for (std::size_t i = 0; i < envelope.items().size(); ++i) {
    if (i != sessionItemIndex) items.push_back(envelope.items()[i]);
  }
  items.push_back(DozidiEnvelopeItem::initWithSession(session));
  return items;
}
