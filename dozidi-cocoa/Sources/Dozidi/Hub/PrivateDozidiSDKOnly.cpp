#include "dozidi-cocoa/Sources/Dozidi/Hub/PrivateDozidiSDKOnly.h"

#include <atomic>

#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiOptions.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiMeta.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiInstallation.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiSerialization.h"

namespace {
// Atomic: an outside layer may set them on one thread while integrations read them on another.
std::atomic<bool> appStartHybridMode{false};
std::atomic<bool> framesHybridMode{false};
}  // namespace

void PrivateDozidiSDKOnly::storeEnvelope(const DozidiEnvelope& envelope) { DozidiSDK::storeEnvelope(envelope); }

void PrivateDozidiSDKOnly::captureEnvelope(std::shared_ptr<const DozidiEnvelope> envelope) {
  DozidiSDK::captureEnvelope(std::move(envelope));
}

std::shared_ptr<const DozidiEnvelope> PrivateDozidiSDKOnly::envelopeWithData(std::string_view data) {
  return DozidiSerialization::envelopeWithData(data);
}

std::shared_ptr<const DozidiAppStartMeasurement> PrivateDozidiSDKOnly::appStartMeasurement() {
  return DozidiSDK::getAppStartMeasurement();
}

std::string PrivateDozidiSDKOnly::installationID() { return DozidiInstallation::id(); }

std::shared_ptr<DozidiOptions> PrivateDozidiSDKOnly::options() {
  auto options = DozidiSDK::options();
  return options ? options : DozidiOptions::create();
}

PrivateDozidiSDKOnly::AppStartCallback PrivateDozidiSDKOnly::onAppStartMeasurementAvailable() {
  return DozidiSDK::onAppStartMeasurementAvailable();
}

void PrivateDozidiSDKOnly::setOnAppStartMeasurementAvailable(AppStartCallback callback) {
  DozidiSDK::setOnAppStartMeasurementAvailable(std::move(callback));
}

bool PrivateDozidiSDKOnly::appStartMeasurementHybridSDKMode() { return appStartHybridMode.load(); }
void PrivateDozidiSDKOnly::setAppStartMeasurementHybridSDKMode(bool value) { appStartHybridMode.store(value); }
bool PrivateDozidiSDKOnly::framesTrackingMeasurementHybridSDKMode() { return framesHybridMode.load(); }
void PrivateDozidiSDKOnly::setFramesTrackingMeasurementHybridSDKMode(bool value) { framesHybridMode.store(value); }

void PrivateDozidiSDKOnly::setSdkName(const std::string& name, const std::string& versionString) {
  DozidiMeta::setSdkName(name);
  DozidiMeta::setVersionString(versionString);
}
void PrivateDozidiSDKOnly::setSdkName(const std::string& name) { DozidiMeta::setSdkName(name); }
std::string PrivateDozidiSDKOnly::getSdkName() { return DozidiMeta::sdkName(); }
std::string PrivateDozidiSDKOnly::getSdkVersionString() { return DozidiMeta::versionString(); }
