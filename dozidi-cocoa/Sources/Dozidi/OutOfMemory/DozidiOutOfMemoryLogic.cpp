#include "dozidi-cocoa/Sources/Dozidi/OutOfMemory/DozidiOutOfMemoryLogic.h"

#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiOptions.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiSDK.h"
#include "dozidi-cocoa/Sources/Dozidi/Integrations/DozidiAppState.h"
#include "dozidi-cocoa/Sources/Dozidi/Integrations/DozidiAppStateManager.h"
#include "dozidi-cocoa/Sources/Dozidi/Integrations/DozidiCrashWrapper.h"

DozidiOutOfMemoryLogic::DozidiOutOfMemoryLogic(std::shared_ptr<const DozidiOptions> options,
                                               std::shared_ptr<DozidiCrashWrapper> crashAdapter,
                                               std::shared_ptr<DozidiAppStateManager> appStateManager)
    : options_(std::move(options)), crashAdapter_(std::move(crashAdapter)), appStateManager_(std::move(appStateManager)) {}

bool DozidiOutOfMemoryLogic::isOOM() {
  if (!options_ || !options_->enableOutOfMemoryTracking || !appStateManager_ || !crashAdapter_) return false;
  const auto current = appStateManager_->buildCurrentAppState();
  const auto previous = appStateManager_->loadPreviousAppState();
  if (!previous) return false;
  if (crashAdapter_->isSimulatorBuild()) return false;
  // An update of the app or the system, or another vendor, ends the old process on purpose.
  if (current->releaseName() != previous->releaseName()) return false;
  if (current->osVersion() != previous->osVersion()) return false;
  if (current->vendorId() != previous->vendorId()) return false;
  if (previous->isDebugging()) return false;
  if (previous->wasTerminated()) return false;
  if (crashAdapter_->crashedLastLaunch()) return false;
  // Only a foreground app is taken for one killed by memory; a background kill has many causes.
  if (!previous->isActive()) return false;
  // A hang that the system (or the user) ended is no memory kill either.
  if (previous->isANROngoing()) return false;
  // A second start in the same process looks at the same previous run again: it never reports.
  return DozidiSDK::startInvocations() == 1;
}
