#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiSDK.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiFramesTracker.h"

#include <map>
#include <mutex>
#include <utility>

#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiBaseIntegration.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiClient.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiDependencyContainer.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiHub.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiOptions.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiSessionTracker.h"
#include "dozidi-cocoa/Sources/Dozidi/Integrations/DozidiCrashWrapper.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiMeta.h"
#include "dozidi-cocoa/Sources/Dozidi/Scope/DozidiScope.h"
#include "dozidi-cocoa/Sources/Dozidi/Screenshots/DozidiScreenshotIntegration.h"
#include "dozidi-cocoa/Sources/Dozidi/Screenshots/DozidiViewHierarchyIntegration.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiLog.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiFileManager.h"

namespace {

struct RegisteredIntegration {
  DozidiSDK::IntegrationFactory make;
  DozidiSDK::IntegrationKind isKind;
};

struct SDKState {
  std::mutex lock;
  std::shared_ptr<DozidiHub> currentHub;
  std::atomic<std::uint64_t> startInvocations{0};
  std::atomic<bool> crashedLastRunCalled{false};

  std::mutex appStartLock;
  std::shared_ptr<const DozidiAppStartMeasurement> appStartMeasurement;
  std::function<void(std::shared_ptr<const DozidiAppStartMeasurement>)> onAppStartMeasurementAvailable;

  std::mutex registryLock;
  std::map<std::string, RegisteredIntegration> registry;
};

// The registry's entry for an integration class of this library.
template <class T>
RegisteredIntegration entryFor() {
  return RegisteredIntegration{[] { return std::make_shared<T>(); },
                               [](const DozidiIntegration& integration) { return dynamic_cast<const T*>(&integration) != nullptr; }};
}

SDKState* makeState() {
  auto* made = new SDKState();
  // The integrations this library carries, known by the names the options list.
  made->registry["DozidiAutoSessionTrackingIntegration"] = entryFor<DozidiAutoSessionTrackingIntegration>();
  made->registry["DozidiFramesTrackingIntegration"] = entryFor<DozidiFramesTrackingIntegration>();
  made->registry["DozidiScreenshotIntegration"] = entryFor<DozidiScreenshotIntegration>();
  made->registry["DozidiViewHierarchyIntegration"] = entryFor<DozidiViewHierarchyIntegration>();
  return made;
}

// Never destroyed: threads that report during exit must still find the state.
SDKState& state() {
  static auto* s = makeState();
  return *s;
}

std::shared_ptr<DozidiHub> existingHub() {
  std::lock_guard lock(state().lock);
  return state().currentHub;
}

void uninstallIntegrations(DozidiHub& hub) {
  for (const auto& integration : hub.installedIntegrations()) integration->uninstall();
  hub.removeAllIntegrations();
}

std::optional<RegisteredIntegration> registered(const std::string& name) {
  std::lock_guard lock(state().registryLock);
  auto found = state().registry.find(name);
  if (found == state().registry.end()) return std::nullopt;
  return found->second;
}

}  // namespace

void DozidiSDK::registerIntegration(const std::string& name, IntegrationFactory factory, IntegrationKind isKind) {
  std::lock_guard lock(state().registryLock);
  state().registry[name] = RegisteredIntegration{std::move(factory), std::move(isKind)};
}

void DozidiSDK::startWithConfigureOptions(const std::function<void(DozidiOptions&)>& configure) {
  auto options = DozidiOptions::create();
  if (configure) configure(*options);
  startWithOptionsObject(std::move(options));
}

void DozidiSDK::startWithOptions(const foundation::Dictionary& dictionary) {
  foundation::Error error("", 0);
  auto options = DozidiOptions::initWithDict(dictionary, &error);
  if (!options) {
    DOZIDI_LOG_ERROR("Error while initializing the SDK");
    DOZIDI_LOG_ERROR(foundation::Value(error).description());
    return;
  }
  startWithOptionsObject(std::move(options));
}

void DozidiSDK::startWithOptionsObject(std::shared_ptr<DozidiOptions> options) {
  if (!options) return;
  state().startInvocations.fetch_add(1);
  DozidiLog::configure(options->debug, options->diagnosticLevel);
  auto client = DozidiClient::initWithOptions(options);
  if (client) {
    client->fileManager()->moveAppStateToPreviousAppState();
    client->fileManager()->moveBreadcrumbsToPreviousBreadcrumbs();
  }
  auto hub = DozidiHub::initWithClient(std::move(client), nullptr);
  std::shared_ptr<DozidiHub> replaced;
  {
    std::lock_guard lock(state().lock);
    replaced = std::exchange(state().currentHub, hub);
  }
  // The replaced hub's integrations hold on to it (notifications, signal handlers); left
  // installed they would report twice, to a hub nobody reads.
  if (replaced && replaced != hub) uninstallIntegrations(*replaced);
  DOZIDI_LOG_DEBUG("SDK initialized! Version: " + DozidiMeta::versionString());
  installIntegrations();
}

void DozidiSDK::installIntegrations() {
  auto hub = currentHub();
  auto client = hub->getClient();
  if (!client) return;
  auto options = client->options();
  for (const auto& name : options->integrations()) {
    auto integration = registered(name);
    if (!integration) {
      DOZIDI_LOG_ERROR("[DozidiHub doInstallIntegrations] couldn't find \"" + name + "\" -> skipping.");
      continue;
    }
    if (hub->isIntegrationInstalled(integration->isKind)) {
      DOZIDI_LOG_ERROR("[DozidiHub doInstallIntegrations] already installed \"" + name + "\" -> skipping.");
      continue;
    }
    auto instance = integration->make();
    if (!instance || !instance->installWithOptions(*options)) continue;
    DOZIDI_LOG_DEBUG("Integration installed: " + name);
    hub->addInstalledIntegration(std::move(instance), name);
  }
}

void DozidiSDK::close() {
  auto hub = currentHub();
  uninstallIntegrations(*hub);
  if (auto client = hub->getClient()) client->options()->enabled = false;
  hub->bindClient(nullptr);
  setCurrentHub(nullptr);
  DozidiDependencyContainer::reset();
  DOZIDI_LOG_DEBUG("SDK closed!");
}

std::shared_ptr<DozidiHub> DozidiSDK::currentHub() {
  std::lock_guard lock(state().lock);
  if (!state().currentHub) state().currentHub = DozidiHub::initWithClient(nullptr, nullptr);
  return state().currentHub;
}

void DozidiSDK::setCurrentHub(std::shared_ptr<DozidiHub> hub) {
  std::lock_guard lock(state().lock);
  state().currentHub = std::move(hub);
}

std::shared_ptr<DozidiOptions> DozidiSDK::options() {
  auto hub = existingHub();
  auto client = hub ? hub->getClient() : nullptr;
  return client ? client->options() : nullptr;
}

bool DozidiSDK::isEnabled() {
  auto hub = existingHub();
  return hub && hub->getClient() != nullptr;
}

std::uint64_t DozidiSDK::startInvocations() { return state().startInvocations.load(); }
void DozidiSDK::setStartInvocations(std::uint64_t value) { state().startInvocations.store(value); }
bool DozidiSDK::crashedLastRunCalled() { return state().crashedLastRunCalled.load(); }
void DozidiSDK::setCrashedLastRunCalled(bool value) { state().crashedLastRunCalled.store(value); }
bool DozidiSDK::claimCrashedLastRunCall() {
  bool expected = false;
  return state().crashedLastRunCalled.compare_exchange_strong(expected, true);
}
bool DozidiSDK::crashedLastRun() { return DozidiCrashWrapper::sharedInstance()->crashedLastLaunch(); }

void DozidiSDK::setAppStartMeasurement(std::shared_ptr<const DozidiAppStartMeasurement> measurement) {
  std::function<void(std::shared_ptr<const DozidiAppStartMeasurement>)> callback;
  {
    std::lock_guard lock(state().appStartLock);
    state().appStartMeasurement = measurement;
    callback = state().onAppStartMeasurementAvailable;
  }
  if (callback) callback(measurement);
}

std::shared_ptr<const DozidiAppStartMeasurement> DozidiSDK::getAppStartMeasurement() {
  std::lock_guard lock(state().appStartLock);
  return state().appStartMeasurement;
}

void DozidiSDK::setOnAppStartMeasurementAvailable(
    std::function<void(std::shared_ptr<const DozidiAppStartMeasurement>)> callback) {
  std::lock_guard lock(state().appStartLock);
  state().onAppStartMeasurementAvailable = std::move(callback);
}

std::function<void(std::shared_ptr<const DozidiAppStartMeasurement>)> DozidiSDK::onAppStartMeasurementAvailable() {
  std::lock_guard lock(state().appStartLock);
  return state().onAppStartMeasurementAvailable;
}

namespace {
// A copy of the hub's scope, changed by `block`; the hub's own scope stays as it is.
std::shared_ptr<DozidiScope> scopeCopy(const std::function<void(DozidiScope&)>& block) {
  auto copy = DozidiScope::initWithScope(*DozidiSDK::currentHub()->scope());
  if (block) block(*copy);
  return copy;
}
}  // namespace

DozidiId DozidiSDK::captureEvent(std::shared_ptr<DozidiEvent> event) {
  return captureEvent(std::move(event), *currentHub()->scope());
}
DozidiId DozidiSDK::captureEvent(std::shared_ptr<DozidiEvent> event, const DozidiScope& scope) {
  return currentHub()->captureEvent(std::move(event), scope);
}
DozidiId DozidiSDK::captureEvent(std::shared_ptr<DozidiEvent> event, const std::function<void(DozidiScope&)>& block) {
  return captureEvent(std::move(event), *scopeCopy(block));
}
DozidiId DozidiSDK::captureMessage(const std::string& message) { return captureMessage(message, *currentHub()->scope()); }
DozidiId DozidiSDK::captureMessage(const std::string& message, const DozidiScope& scope) {
  return currentHub()->captureMessage(message, scope);
}
DozidiId DozidiSDK::captureMessage(const std::string& message, const std::function<void(DozidiScope&)>& block) {
  return captureMessage(message, *scopeCopy(block));
}
DozidiId DozidiSDK::captureError(const foundation::Error& error) { return captureError(error, *currentHub()->scope()); }
DozidiId DozidiSDK::captureError(const foundation::Error& error, const DozidiScope& scope) {
  return currentHub()->captureError(error, scope);
}
DozidiId DozidiSDK::captureError(const foundation::Error& error, const std::function<void(DozidiScope&)>& block) {
  return captureError(error, *scopeCopy(block));
}
DozidiId DozidiSDK::captureException(const DozidiNSException& exception) {
  return captureException(exception, *currentHub()->scope());
}
DozidiId DozidiSDK::captureException(const DozidiNSException& exception, const DozidiScope& scope) {
  return currentHub()->captureException(exception, scope);
}
DozidiId DozidiSDK::captureException(const DozidiNSException& exception,
                                     const std::function<void(DozidiScope&)>& block) {
  return captureException(exception, *scopeCopy(block));
}
void DozidiSDK::captureCrashEvent(std::shared_ptr<DozidiEvent> event) { currentHub()->captureCrashEvent(std::move(event)); }
void DozidiSDK::captureEnvelope(std::shared_ptr<const DozidiEnvelope> envelope) {
  currentHub()->captureEnvelope(std::move(envelope));
}
void DozidiSDK::storeEnvelope(const DozidiEnvelope& envelope) {
  if (auto client = currentHub()->getClient()) client->storeEnvelope(envelope);
}
void DozidiSDK::addBreadcrumb(std::shared_ptr<DozidiBreadcrumb> crumb) { currentHub()->addBreadcrumb(std::move(crumb)); }
void DozidiSDK::configureScope(const std::function<void(DozidiScope&)>& block) { currentHub()->configureScope(block); }
void DozidiSDK::setUser(std::shared_ptr<DozidiUser> user) { currentHub()->setUser(std::move(user)); }
void DozidiSDK::startSession() { currentHub()->startSession(); }
void DozidiSDK::endSession() { currentHub()->endSession(); }
void DozidiSDK::flush(double timeout) { currentHub()->flush(timeout); }
