#include "dozidi-cocoa/Sources/Dozidi/OutOfMemory/DozidiOutOfMemoryTracker.h"

#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiOptions.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiSDK.h"
#include "dozidi-cocoa/Sources/Dozidi/Integrations/DozidiAppStateManager.h"
#include "dozidi-cocoa/Sources/Dozidi/OutOfMemory/DozidiOutOfMemoryLogic.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiEvent.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiException.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiDispatchQueueWrapper.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiFoundationHelpers.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiFileManager.h"

DozidiOutOfMemoryTracker::DozidiOutOfMemoryTracker(std::shared_ptr<const DozidiOptions> options,
                                                   std::shared_ptr<DozidiOutOfMemoryLogic> logic,
                                                   std::shared_ptr<DozidiAppStateManager> appStateManager,
                                                   std::shared_ptr<DozidiDispatchQueueWrapper> dispatchQueue,
                                                   std::shared_ptr<DozidiFileManager> fileManager)
    : options_(std::move(options)),
      outOfMemoryLogic_(std::move(logic)),
      dispatchQueue_(std::move(dispatchQueue)),
      appStateManager_(std::move(appStateManager)),
      fileManager_(std::move(fileManager)) {}

void DozidiOutOfMemoryTracker::start() {
  if (appStateManager_) appStateManager_->start();
  dispatchQueue_->dispatchAsyncWithBlock([self = shared_from_this()] {
    if (!self->outOfMemoryLogic_->isOOM()) return;
    DozidiSDK::captureCrashEvent(self->outOfMemoryEvent());
  });
}

void DozidiOutOfMemoryTracker::stop() {
  if (appStateManager_) appStateManager_->stop();
}

std::shared_ptr<DozidiEvent> DozidiOutOfMemoryTracker::outOfMemoryEvent() {
  auto event = DozidiEvent::initWithLevel(DozidiEventLevel::Fatal);
  event->breadcrumbs = std::vector<std::shared_ptr<DozidiBreadcrumb>>{};
  std::vector<foundation::Value> crumbs = fileManager_->readPreviousBreadcrumbs();
  const std::uint64_t max = options_->maxBreadcrumbs;
  if (crumbs.size() > max) crumbs.erase(crumbs.begin(), crumbs.end() - static_cast<std::ptrdiff_t>(max));
  if (!crumbs.empty()) {
    // The last breadcrumb is the last thing known of the run: the closest time of its end.
    if (auto text = crumbs.back()["timestamp"].asString()) {
      if (auto date = dozidi_fromIso8601String(*text)) event->timestamp = *date;
    }
  }
  foundation::Array serialized;
  for (auto& crumb : crumbs) serialized.push_back(std::move(crumb));
  event->serializedBreadcrumbs = std::move(serialized);

  auto exception =
      DozidiException::initWithValue("The OS most likely terminated your app because it overused RAM.", "OutOfMemory");
  exception->mechanism = DozidiMechanism::initWithType("out_of_memory");
  exception->mechanism->handled = false;
  event->exceptions = std::vector<std::shared_ptr<DozidiException>>{exception};
  return event;
}
