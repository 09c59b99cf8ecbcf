#include "dozidi-cocoa/Sources/Dozidi/Screenshots/DozidiEventAttachmentIntegration.h"

#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiHub.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiSDK.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiEvent.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiLog.h"

bool DozidiEventAttachmentIntegration::installWithOptions(const DozidiOptions& options) {
  if (!DozidiBaseIntegration::installWithOptions(options)) return false;
  auto client = DozidiSDK::currentHub()->getClient();
  if (client) {
    client->addAttachmentProcessor(shared_from_this());
  } else {
    DOZIDI_LOG_DEBUG(integrationName() + " has no client to add its attachments to events.");
  }
  {
    std::lock_guard guard(lock_);
    client_ = client;
  }
  registerCrashTimeCallback(true);
  return true;
}

void DozidiEventAttachmentIntegration::uninstall() {
  registerCrashTimeCallback(false);
  std::shared_ptr<DozidiClient> client;
  {
    std::lock_guard guard(lock_);
    client = client_.lock();
    client_.reset();
  }
  // The client it joined, which may no longer be the current hub's: a replaced hub's integrations
  // are uninstalled after the new hub took its place.
  if (client) client->removeAttachmentProcessor(shared_from_this());
}

std::vector<std::shared_ptr<DozidiAttachment>> DozidiEventAttachmentIntegration::processAttachments(
    std::vector<std::shared_ptr<DozidiAttachment>> attachments, const DozidiEvent& event) {
  if (event.isCrashEvent || (!event.exceptions && !event.error)) return attachments;
  for (auto& attachment : eventAttachments()) attachments.push_back(std::move(attachment));
  return attachments;
}
