#include "dozidi-cocoa/Sources/Dozidi/Integrations/DozidiCrashIntegration.h"
#include "dozidi-cocoa/Sources/Dozidi/OutOfMemory/DozidiOutOfMemoryLogic.h"

#include <cstdlib>
#include <mutex>
#include <utility>

#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiClient.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiDependencyContainer.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiHub.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiOptions.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiSDK.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiSessionTracker.h"
#include "dozidi-cocoa/Sources/Dozidi/Integrations/DozidiAppStateManager.h"
#include "dozidi-cocoa/Sources/Dozidi/Integrations/DozidiCrashInstallation.h"
#include "dozidi-cocoa/Sources/Dozidi/Integrations/DozidiCrashWrapper.h"
#include "dozidi-cocoa/Sources/Dozidi/Scope/DozidiUser.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiDispatchQueueWrapper.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiInAppLogic.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiLog.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiNSNotificationCenterWrapper.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiSysctl.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/DozidiCrash.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/DozidiCrashScopeMirror.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashJSONCodec.h"
#include "platform/dispatch/Once.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/DeviceFacts.h"

using foundation::Dictionary;
using foundation::Value;

namespace {

constexpr const char* kLocaleDidChange = "NSCurrentLocaleDidChangeNotification";

struct ProcessWide {
  std::mutex lock;
  std::shared_ptr<DozidiCrashInstallationReporter> installation;
  dispatch::OnceFlag startToken;
};

ProcessWide& processWide() {
  static auto* state = new ProcessWide;
  return *state;
}

// Encodes a scope value for the mirror (sorted keys); none when it cannot be encoded.
std::optional<std::string> mirrorText(const Value& value) {
  foundation::Error error("", 0);
  auto text = DozidiCrashJSONCodec::encode(value, DozidiCrashJSONCodec::kSorted, &error);
  if (!text) DOZIDI_LOG_ERROR("Could not serialize " + Value(error).description());
  return text;
}

// The one road of every observer callback: no value clears the field; an encoding failure
// leaves it as it was.
void mirror(void (*set)(const char*), const std::optional<Value>& value) {
  if (!value) return set(nullptr);
  if (auto text = mirrorText(*value)) set(text->c_str());
}

std::optional<Value> unlessEmpty(const Dictionary& dictionary) {
  return dictionary.empty() ? std::nullopt : std::optional<Value>(dictionary);
}

void setIfPresent(Dictionary& context, const char* key, const Value& value) {
  if (!value.isAbsent() && !value.isNull()) context.set(key, value);
}

}  // namespace

std::string dozidi_currentLocaleIdentifier() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') continue;
    std::string locale(value);
    locale = locale.substr(0, locale.find_first_of(".@"));
    if (locale == "C" || locale == "POSIX") return "en_US_POSIX";
    return locale;
  }
  return "en_US_POSIX";
}

// Scope observer ---------------------------------------------------------------------------

DozidiCrashScopeObserver::DozidiCrashScopeObserver(std::int64_t maxBreadcrumbs) {
  crashscopemirror_configureBreadcrumbs(maxBreadcrumbs);
}

void DozidiCrashScopeObserver::setUser(const std::shared_ptr<DozidiUser>& user) {
  mirror(crashscopemirror_setUser, user ? std::optional<Value>(user->serialize()) : std::nullopt);
}
void DozidiCrashScopeObserver::setTags(const Dictionary& tags) { mirror(crashscopemirror_setTags, unlessEmpty(tags)); }
void DozidiCrashScopeObserver::setExtras(const Dictionary& extras) { mirror(crashscopemirror_setExtras, unlessEmpty(extras)); }
void DozidiCrashScopeObserver::setContext(const Dictionary& context) {
  mirror(crashscopemirror_setContext, unlessEmpty(context));
}
void DozidiCrashScopeObserver::setDist(const std::optional<std::string>& dist) {
  mirror(crashscopemirror_setDist, dist ? std::optional<Value>(*dist) : std::nullopt);
}
void DozidiCrashScopeObserver::setEnvironment(const std::optional<std::string>& environment) {
  mirror(crashscopemirror_setEnvironment, environment ? std::optional<Value>(*environment) : std::nullopt);
}
void DozidiCrashScopeObserver::setFingerprint(const std::vector<std::string>& fingerprint) {
  if (fingerprint.empty()) return mirror(crashscopemirror_setFingerprint, std::nullopt);
  foundation::Array array;
  for (const std::string& part : fingerprint) array.push_back(part);
  mirror(crashscopemirror_setFingerprint, Value(array));
}
void DozidiCrashScopeObserver::setLevel(DozidiEventLevel level) {
  mirror(crashscopemirror_setLevel,
         level == DozidiEventLevel::None ? std::nullopt : std::optional<Value>(nameForDozidiLevel(level)));
}
void DozidiCrashScopeObserver::addSerializedBreadcrumb(const Dictionary& crumb) {
  if (auto text = mirrorText(crumb)) crashscopemirror_addBreadcrumb(text->c_str());
}
void DozidiCrashScopeObserver::clearBreadcrumbs() { crashscopemirror_clearBreadcrumbs(); }
void DozidiCrashScopeObserver::clear() { crashscopemirror_clear(); }

// Integration ------------------------------------------------------------------------------

DozidiCrashIntegration::DozidiCrashIntegration()
    : DozidiCrashIntegration(DozidiCrashWrapper::sharedInstance(), DozidiDispatchQueueWrapper::create()) {}

DozidiCrashIntegration::DozidiCrashIntegration(std::shared_ptr<DozidiCrashWrapper> crashAdapter,
                                               std::shared_ptr<DozidiDispatchQueueWrapper> dispatchQueueWrapper)
    : dispatchQueueWrapper_(std::move(dispatchQueueWrapper)), crashAdapter_(std::move(crashAdapter)) {}

DozidiCrashIntegration::~DozidiCrashIntegration() {
  DozidiDependencyContainer::sharedInstance()->notificationCenterWrapper()->removeObserver(this);
}

void DozidiCrashIntegration::registerWithSDK() {
  DozidiSDK::registerIntegration(
      "DozidiCrashIntegration", [] { return std::make_shared<DozidiCrashIntegration>(); },
      [](const DozidiIntegration& integration) { return dynamic_cast<const DozidiCrashIntegration*>(&integration) != nullptr; });
}

std::shared_ptr<DozidiCrashInstallationReporter> DozidiCrashIntegration::installation() {
  std::lock_guard guard(processWide().lock);
  return processWide().installation;
}

bool DozidiCrashIntegration::installWithOptions(const DozidiOptions& options) {
  if (!DozidiBaseIntegration::installWithOptions(options)) return false;
  settings_ = Settings{options.releaseName, options.dist, options.inAppIncludes, options.inAppExcludes,
                       options.stitchAsyncCode};
  // This run's app state is kept for the next launch to compare with; the same manager serves
  // the out-of-memory integration, so both write one record under one lock.
  appStateManager_ = DozidiDependencyContainer::sharedInstance()->appStateManager();
  if (appStateManager_) appStateManager_->start();
  crashedSessionHandler_ = std::make_shared<DozidiSessionCrashedHandler>(
      crashAdapter_, std::make_shared<DozidiOutOfMemoryLogic>(DozidiSDK::options(), crashAdapter_, appStateManager_));
  scopeObserver_ = std::make_shared<DozidiCrashScopeObserver>(static_cast<std::int64_t>(options.maxBreadcrumbs));
  startCrashHandler();
  if (settings_.stitchAsyncCode) crashAdapter_->installAsyncHooks();
  configureScope();
  return true;
}

void DozidiCrashIntegration::startCrashHandler() {
  ProcessWide& state = processWide();
  dispatchQueueWrapper_->dispatchOnce(state.startToken, [&] {
    std::shared_ptr<DozidiCrashInstallationReporter> installation;
    bool first = false;
    {
      std::lock_guard guard(state.lock);
      if (!state.installation) {
        auto inAppLogic = std::make_shared<const DozidiInAppLogic>(settings_.inAppIncludes, settings_.inAppExcludes);
        state.installation =
            std::make_shared<DozidiCrashInstallationReporter>(std::move(inAppLogic), crashAdapter_, dispatchQueueWrapper_);
        first = true;
      }
      installation = state.installation;
    }
    installation->install();
    crashedSessionHandler_->endCurrentSessionAsCrashedWhenCrashOrOOM();
    if (first) sendAllDozidiCrashReports();
  });
}

void DozidiCrashIntegration::sendAllDozidiCrashReports() {
  if (auto reporter = installation()) reporter->sendAllReports();
}

void DozidiCrashIntegration::configureScope() {
  DozidiSDK::currentHub()->configureScope([this](DozidiScope& scope) {
    enrichScope(scope, *crashAdapter_);
    Dictionary userInfo = scope.serialize();
    if (settings_.releaseName) userInfo.set("release", *settings_.releaseName);
    if (settings_.dist) userInfo.set("dist", *settings_.dist);
    if (auto facade = DozidiCrash::sharedInstance()) facade->setUserInfo(userInfo);
    scope.addObserver(scopeObserver_);
  });
  DozidiDependencyContainer::sharedInstance()->notificationCenterWrapper()->addObserver(
      this, kLocaleDidChange, [this](const foundation::Notification&) { currentLocaleDidChange(); });
}

void DozidiCrashIntegration::currentLocaleDidChange() {
  DozidiSDK::currentHub()->configureScope([](DozidiScope& scope) {
    const Dictionary context = scope.serialize()["context"].dictionary() ? *scope.serialize()["context"].dictionary() : Dictionary{};
    Dictionary device = context["device"].dictionary() ? *context["device"].dictionary() : Dictionary{};
    device.set("locale", dozidi_currentLocaleIdentifier());
    scope.setContextValue(device, "device");
  });
}

void DozidiCrashIntegration::uninstall() {
  if (auto reporter = installation()) {
    reporter->uninstall();
    processWide().startToken.reset();
  }
  crashAdapter_->uninstallAsyncHooks();
  if (appStateManager_) appStateManager_->stop();
  DozidiDependencyContainer::sharedInstance()->notificationCenterWrapper()->removeObserver(this, kLocaleDidChange);
}

void DozidiCrashIntegration::enrichScope(DozidiScope& scope, DozidiCrashWrapper& crashWrapper) {
  const Dictionary info = crashWrapper.systemInfo();
  const foundation::DeviceFacts device = foundation::DeviceFacts::current();
  // The system is reported as it is: its own name and version, and the kernel's build.
  Dictionary os{{"name", info["systemName"].string() ? *info["systemName"].string() : device.systemName},
                {"version", device.systemVersion}};
  if (!info.empty()) {
    setIfPresent(os, "build", info["osVersion"]);
    setIfPresent(os, "kernel_version", info["kernelVersion"]);
  }
  scope.setContextValue(os, "os");
  if (info.empty()) return;

  // Context key, then the system fact it takes.
  static constexpr std::pair<const char*, const char*> kDeviceKeys[] = {
      {"arch", "cpuArchitecture"},        {"model", "machine"},
      {"model_id", "model"},              {"free_memory", "freeMemorySize"},
      {"usable_memory", "usableMemorySize"}, {"memory_size", "memorySize"},
      {"storage_size", "totalStorageSize"}, {"free_storage", "freeStorageSize"},
      {"boot_time", "bootTime"}};
  static constexpr std::pair<const char*, const char*> kAppFacts[] = {
      {"app_start_time", "appStartTime"}, {"device_app_hash", "deviceAppHash"}, {"app_id", "appID"},
      {"build_type", "buildType"}};
  static constexpr std::pair<const char*, const char*> kAppBundleKeys[] = {
      {"app_identifier", "CFBundleIdentifier"}, {"app_name", "CFBundleName"}, {"app_build", "CFBundleVersion"},
      {"app_version", "CFBundleShortVersionString"}};

  Dictionary deviceContext;
  if (const std::string* name = info["systemName"].string()) deviceContext.set("family", name->substr(0, name->find_first_of(" \t")));
  for (const auto& [key, fact] : kDeviceKeys) setIfPresent(deviceContext, key, info[fact]);
  deviceContext.set("locale", dozidi_currentLocaleIdentifier());
  scope.setContextValue(deviceContext, "device");

  Dictionary app;
  const auto bundle = foundation::Bundle::main();
  const Dictionary bundleInfo = bundle ? bundle->infoDictionary() : Dictionary{};
  for (const auto& [key, bundleKey] : kAppBundleKeys) setIfPresent(app, key, bundleInfo[bundleKey]);
  for (const auto& [key, fact] : kAppFacts) setIfPresent(app, key, info[fact]);
  scope.setContextValue(app, "app");
}
