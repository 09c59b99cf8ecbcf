#include "dozidi-cocoa/Sources/DozidiCrash/Recording/DozidiCrash.h"

#include <string_view>

#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiDependencyContainer.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiNSNotificationCenterWrapper.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/DozidiCrashC.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/DozidiCrashDoctor.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/DozidiCrashReportStore.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Monitors/DozidiCrashMonitor_AppState.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Monitors/DozidiCrashMonitor_System.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashJSONCodec.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashLogger.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiSimpleConstructor.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/URL.h"

namespace {

using foundation::Array;
using foundation::Dictionary;
using foundation::Value;

constexpr std::int32_t kDefaultMonitoring = 0xEF;
constexpr std::int32_t kDefaultMaxReportCount = 5;

#define DOZIDICRASH_LOG_ERROR(message) \
  dozidicrashlog_logWithObjectFormat("ERROR", __FILE__, __LINE__, __func__, message)

/// The five life-cycle notifications and the handler each one calls, in observation order.
struct LifeCycleObservation {
  const char* name;
  void (DozidiCrash::*handler)();
};
constexpr LifeCycleObservation kLifeCycle[] = {
    {"UIApplicationDidBecomeActiveNotification", &DozidiCrash::applicationDidBecomeActive},
    {"UIApplicationWillResignActiveNotification", &DozidiCrash::applicationWillResignActive},
    {"UIApplicationDidEnterBackgroundNotification", &DozidiCrash::applicationDidEnterBackground},
    {"UIApplicationWillEnterForegroundNotification", &DozidiCrash::applicationWillEnterForeground},
    {"UIApplicationWillTerminateNotification", &DozidiCrash::applicationWillTerminate},
};

std::string bundleNameOfMainBundle() {
  return foundation::Bundle::main()->object("CFBundleName").asString().value_or("Unknown");
}

std::optional<std::string> defaultBasePath() {
  const std::string caches = foundation::FileManager::defaultManager().cachesDirectory().path();
  if (caches.empty()) {
    DOZIDICRASH_LOG_ERROR("Could not locate cache directory path.");
    return std::nullopt;
  }
  return caches + "/DozidiCrash/" + bundleNameOfMainBundle();
}

void addText(Dictionary& info, const char* key, const char* value) {
  if (value != nullptr) info.set(key, std::string(value));
}

}  // namespace

struct DozidiCrash::ReadReports {
  Array reports;
  /// The IDs of the reports handed out and of those that could not be read.
  std::vector<std::int64_t> readIDs;
  int unreadable = 0;
};

DozidiCrash::DozidiCrash(std::string bundleName, std::string basePath)
    : bundleName_(std::move(bundleName)), basePath_(std::move(basePath)) {}

DozidiCrash::~DozidiCrash() {
  if (notificationCenter_) notificationCenter_->removeObserver(this);
}

std::shared_ptr<DozidiCrash> DozidiCrash::sharedInstance() {
  // Made once, never destroyed: the crash path and the life-cycle observers may use it until the
  // process ends.
  static const auto* instance = new std::shared_ptr<DozidiCrash>(init());
  return *instance;
}

std::shared_ptr<DozidiCrash> DozidiCrash::init() { return initWithBasePath(defaultBasePath()); }

std::shared_ptr<DozidiCrash> DozidiCrash::initWithBasePath(std::optional<std::string> basePath) {
  std::string bundleName = bundleNameOfMainBundle();
  if (!basePath) {
    DOZIDICRASH_LOG_ERROR("Failed to initialize crash handler. Crash reporting disabled.");
    return nullptr;
  }
  std::shared_ptr<DozidiCrash> crash(new DozidiCrash(std::move(bundleName), std::move(*basePath)));
  crash->deleteBehaviorAfterSendAll_ = kDeleteAlways;
  crash->setIntrospectMemory(true);
  crash->setCatchZombies(false);
  crash->setMaxReportCount(kDefaultMaxReportCount);
  crash->setMonitoring(kDefaultMonitoring);
  crash->notificationCenter_ = DozidiDependencyContainer::sharedInstance()->notificationCenterWrapper();
  return crash;
}

bool DozidiCrash::install() {
  std::unique_lock lock(lock_);
  if (monitoringFromUninstalledToRestore_ && monitoringWhenUninstalled_ != 0) {
    monitoring_ =
        static_cast<std::int32_t>(dozidicrash_setMonitoring(static_cast<std::uint32_t>(monitoringWhenUninstalled_)));
    monitoringWhenUninstalled_ = 0;
    monitoringFromUninstalledToRestore_ = false;
  }
  monitoring_ = static_cast<std::int32_t>(dozidicrash_install(bundleName_.c_str(), basePath_.c_str()));
  if (monitoring_ == 0) return false;
  lock.unlock();
  observeLifeCycle();
  return true;
}

void DozidiCrash::uninstall() {
  {
    std::lock_guard lock(lock_);
    monitoringWhenUninstalled_ = monitoring_;
    monitoring_ = static_cast<std::int32_t>(dozidicrash_setMonitoring(0));
    monitoringFromUninstalledToRestore_ = true;
  }
  setOnCrash(nullptr);
  dozidicrash_uninstall();
  stopObservingLifeCycle();
}

void DozidiCrash::observeLifeCycle() {
  const std::shared_ptr<DozidiNSNotificationCenterWrapper> center = notificationCenter();
  if (!center) return;
  // A second install without an uninstall between must not call each handler twice.
  center->removeObserver(this);
  const std::weak_ptr<DozidiCrash> weakSelf = weak_from_this();
  for (const LifeCycleObservation& observation : kLifeCycle) {
    center->addObserver(this, observation.name,
                        [weakSelf, handler = observation.handler](const foundation::Notification&) {
                          if (const std::shared_ptr<DozidiCrash> self = weakSelf.lock()) ((*self).*handler)();
                        });
  }
}

void DozidiCrash::stopObservingLifeCycle() {
  const std::shared_ptr<DozidiNSNotificationCenterWrapper> center = notificationCenter();
  if (!center) return;
  for (const LifeCycleObservation& observation : kLifeCycle) center->removeObserver(this, observation.name);
}

bool DozidiCrash::introspectMemory() const { return locked(introspectMemory_); }

void DozidiCrash::setIntrospectMemory(bool introspectMemory) {
  std::lock_guard lock(lock_);
  introspectMemory_ = introspectMemory;
  dozidicrash_setIntrospectMemory(introspectMemory);
}

bool DozidiCrash::catchZombies() const { return locked(catchZombies_); }

void DozidiCrash::setCatchZombies(bool catchZombies) {
  std::int32_t mask = 0;
  {
    std::lock_guard lock(lock_);
    catchZombies_ = catchZombies;
    mask = catchZombies ? (monitoring_ | kMonitorZombie) : (monitoring_ & ~kMonitorZombie);
  }
  setMonitoring(mask);
}

bool DozidiCrash::printPreviousLog() const { return locked(printPreviousLog_); }

void DozidiCrash::setPrintPreviousLog(bool printPreviousLog) { setLocked(printPreviousLog_, printPreviousLog); }

std::int32_t DozidiCrash::deleteBehaviorAfterSendAll() const { return locked(deleteBehaviorAfterSendAll_); }

void DozidiCrash::setDeleteBehaviorAfterSendAll(std::int32_t deleteBehavior) {
  setLocked(deleteBehaviorAfterSendAll_, deleteBehavior);
}

std::int32_t DozidiCrash::monitoring() const { return locked(monitoring_); }

void DozidiCrash::setMonitoring(std::int32_t monitoring) {
  std::lock_guard lock(lock_);
  monitoring_ = static_cast<std::int32_t>(dozidicrash_setMonitoring(static_cast<std::uint32_t>(monitoring)));
}

std::int32_t DozidiCrash::demangleLanguages() const { return locked(demangleLanguages_); }

void DozidiCrash::setDemangleLanguages(std::int32_t demangleLanguages) {
  setLocked(demangleLanguages_, demangleLanguages);
}

std::int32_t DozidiCrash::maxReportCount() const { return locked(maxReportCount_); }

void DozidiCrash::setMaxReportCount(std::int32_t maxReportCount) {
  std::lock_guard lock(lock_);
  maxReportCount_ = maxReportCount;
  dozidicrash_setMaxReportCount(maxReportCount);
}

bool DozidiCrash::monitoringFromUninstalledToRestore() const { return locked(monitoringFromUninstalledToRestore_); }

std::int32_t DozidiCrash::monitoringWhenUninstalled() const { return locked(monitoringWhenUninstalled_); }

std::shared_ptr<DozidiCrashReportFilter> DozidiCrash::sink() const { return locked(sink_); }

void DozidiCrash::setSink(std::shared_ptr<DozidiCrashReportFilter> sink) { setLocked(sink_, std::move(sink)); }

std::optional<Dictionary> DozidiCrash::userInfo() const { return locked(userInfo_); }

void DozidiCrash::setUserInfo(std::optional<Dictionary> userInfo) {
  std::lock_guard userInfoLock(userInfoLock_);
  if (!userInfo) {
    {
      std::lock_guard lock(lock_);
      userInfo_.reset();
    }
    dozidicrash_setUserInfoJSON(nullptr);
    return;
  }
  foundation::Error error("", 0);
  const std::optional<std::string> json =
      DozidiCrashJSONCodec::encode(*userInfo, DozidiCrashJSONCodec::kSorted, &error);
  if (!json) {
    DOZIDICRASH_LOG_ERROR("Could not serialize user info: " + error.localizedDescription());
    return;
  }
  {
    std::lock_guard lock(lock_);
    userInfo_ = std::move(userInfo);
  }
  dozidicrash_setUserInfoJSON(json->c_str());
}

DozidiCrashReportWriteCallback DozidiCrash::onCrash() const { return locked(onCrash_); }

void DozidiCrash::setOnCrash(DozidiCrashReportWriteCallback onCrash) {
  std::lock_guard lock(lock_);
  onCrash_ = onCrash;
  dozidicrash_setCrashNotifyCallback(onCrash);
}

std::vector<std::string> DozidiCrash::doNotIntrospectClasses() const { return locked(doNotIntrospectClasses_); }

void DozidiCrash::setDoNotIntrospectClasses(std::vector<std::string> classNames) {
  std::lock_guard lock(lock_);
  doNotIntrospectClasses_ = std::move(classNames);
  std::vector<const char*> names;
  names.reserve(doNotIntrospectClasses_.size());
  for (const std::string& name : doNotIntrospectClasses_) names.push_back(name.c_str());
  // The writer copies the names.
  dozidicrash_setDoNotIntrospectClasses(names.empty() ? nullptr : names.data(), static_cast<int>(names.size()));
}

DozidiCrash::ExceptionHandler DozidiCrash::uncaughtExceptionHandler() const {
  return locked(uncaughtExceptionHandler_);
}

void DozidiCrash::setUncaughtExceptionHandler(ExceptionHandler handler) {
  setLocked(uncaughtExceptionHandler_, handler);
}

DozidiCrash::ExceptionHandler DozidiCrash::currentSnapshotUserReportedExceptionHandler() const {
  return locked(currentSnapshotUserReportedExceptionHandler_);
}

void DozidiCrash::setCurrentSnapshotUserReportedExceptionHandler(ExceptionHandler handler) {
  setLocked(currentSnapshotUserReportedExceptionHandler_, handler);
}

std::shared_ptr<DozidiNSNotificationCenterWrapper> DozidiCrash::notificationCenter() const {
  return locked(notificationCenter_);
}

void DozidiCrash::setNotificationCenter(std::shared_ptr<DozidiNSNotificationCenterWrapper> notificationCenter) {
  setLocked(notificationCenter_, std::move(notificationCenter));
}

double DozidiCrash::activeDurationSinceLastCrash() const {
  return dozidicrashstate_currentState()->activeDurationSinceLastCrash;
}
double DozidiCrash::backgroundDurationSinceLastCrash() const {
  return dozidicrashstate_currentState()->backgroundDurationSinceLastCrash;
}
std::int32_t DozidiCrash::launchesSinceLastCrash() const {
  return dozidicrashstate_currentState()->launchesSinceLastCrash;
}
std::int32_t DozidiCrash::sessionsSinceLastCrash() const {
  return dozidicrashstate_currentState()->sessionsSinceLastCrash;
}
double DozidiCrash::activeDurationSinceLaunch() const {
  return dozidicrashstate_currentState()->activeDurationSinceLaunch;
}
double DozidiCrash::backgroundDurationSinceLaunch() const {
  return dozidicrashstate_currentState()->backgroundDurationSinceLaunch;
}
std::int32_t DozidiCrash::sessionsSinceLaunch() const { return dozidicrashstate_currentState()->sessionsSinceLaunch; }
bool DozidiCrash::crashedLastLaunch() const { return dozidicrashstate_currentState()->crashedLastLaunch; }

Dictionary DozidiCrash::systemInfo() const {
  static const DozidiCrashSystemFacts kNoFacts{};
  const DozidiCrashSystemFacts* facts = dozidicrashcm_system_currentFacts();
  const DozidiCrashSystemFacts& s = facts != nullptr ? *facts : kNoFacts;
  Dictionary info;
  addText(info, "systemName", s.systemName);
  addText(info, "systemVersion", s.systemVersion);
  addText(info, "machine", s.machine);
  addText(info, "model", s.model);
  addText(info, "kernelVersion", s.kernelVersion);
  addText(info, "osVersion", s.osVersion);
  info.set("isJailbroken", s.isJailbroken);
  addText(info, "bootTime", s.bootTime);
  addText(info, "appStartTime", s.appStartTime);
  addText(info, "executablePath", s.executablePath);
  addText(info, "executableName", s.executableName);
  addText(info, "bundleID", s.bundleID);
  addText(info, "bundleName", s.bundleName);
  addText(info, "bundleVersion", s.bundleVersion);
  addText(info, "bundleShortVersion", s.bundleShortVersion);
  addText(info, "appID", s.appID);
  addText(info, "cpuArchitecture", s.cpuArchitecture);
  info.set("cpuType", s.cpuType);
  info.set("cpuSubType", s.cpuSubType);
  info.set("binaryCPUType", s.binaryCPUType);
  info.set("binaryCPUSubType", s.binaryCPUSubType);
  addText(info, "processName", s.processName);
  info.set("processID", s.processID);
  info.set("parentProcessID", s.parentProcessID);
  addText(info, "deviceAppHash", s.deviceAppHash);
  addText(info, "buildType", s.buildType);
  info.set("totalStorageSize", s.storageSize);
  info.set("freeStorageSize", s.freeStorageSize);
  info.set("memorySize", s.memorySize);
  info.set("freeMemorySize", s.freeMemory);
  info.set("usableMemorySize", s.usableMemory);
  return info;
}

void DozidiCrash::sendAllReportsWithCompletion(DozidiCrashReportFilterCompletion onCompletion) {
  ReadReports read = readAllReports();
  const std::weak_ptr<DozidiCrash> weakSelf = weak_from_this();
  sendReports(std::move(read.reports),
              [weakSelf, readIDs = std::move(read.readIDs), unreadable = read.unreadable, onCompletion](
                  std::optional<Array> filtered, bool completed, std::optional<foundation::Error> error) {
                if (error) DOZIDICRASH_LOG_ERROR("Failed to send reports: " + error->localizedDescription());
                const std::shared_ptr<DozidiCrash> self = weakSelf.lock();
                // Only reports that were read are deleted, and only once the sink took them: a
                // report written meanwhile, or one the sink failed to deliver, stays for the next
                // send.
                if (self && completed && self->deleteBehaviorAfterSendAll() != kDeleteNone) {
                  for (const std::int64_t reportID : readIDs) dozidicrash_deleteReportWithID(reportID);
                  if (unreadable > 0) {
                    DOZIDICRASH_LOG_ERROR("Deleted " + std::to_string(unreadable) + " unreadable crash reports");
                  }
                }
                dozidicrash_callCompletion(onCompletion, std::move(filtered), completed, std::move(error));
              });
}

void DozidiCrash::sendReports(Array reports, DozidiCrashReportFilterCompletion onCompletion) {
  if (reports.empty()) return dozidicrash_callCompletion(onCompletion, Array{}, true, std::nullopt);
  const std::shared_ptr<DozidiCrashReportFilter> currentSink = sink();
  if (!currentSink) {
    return dozidicrash_callCompletion(onCompletion, std::move(reports), false,
                                      dozidiErrorWithDomain("DozidiCrash", 0, "No sink set. Crash reports not sent."));
  }
  currentSink->filterReports(std::move(reports), std::move(onCompletion));
}

void DozidiCrash::deleteAllReports() { dozidicrash_deleteAllReports(); }
void DozidiCrash::deleteReportWithID(std::int64_t reportID) { dozidicrash_deleteReportWithID(reportID); }
std::int32_t DozidiCrash::reportCount() const { return dozidicrash_getReportCount(); }

std::vector<std::int64_t> DozidiCrash::reportIDs() const {
  const int count = dozidicrash_getReportCount();
  if (count < 1) return {};
  std::vector<std::int64_t> ids(static_cast<std::size_t>(count));
  ids.resize(static_cast<std::size_t>(std::max(dozidicrash_getReportIDs(ids.data(), count), 0)));
  return ids;
}

std::optional<std::string> DozidiCrash::loadCrashReportJSONWithID(std::int64_t reportID) const {
  return dozidicrash_readReport(reportID);
}

std::optional<Dictionary> DozidiCrash::reportWithIntID(std::int64_t reportID) const {
  const std::optional<std::string> json = loadCrashReportJSONWithID(reportID);
  if (!json) return std::nullopt;
  foundation::Error error("", 0);
  Value decoded = DozidiCrashJSONCodec::decode(*json,
                                               DozidiCrashJSONCodec::kIgnoreNullsInArrays |
                                                   DozidiCrashJSONCodec::kIgnoreNullsInObjects |
                                                   DozidiCrashJSONCodec::kKeepPartialResult,
                                               &error);
  if (!error.domain().empty()) {
    char id[17];
    std::snprintf(id, sizeof id, "%llx", static_cast<unsigned long long>(reportID));
    DOZIDICRASH_LOG_ERROR("Encountered error loading crash report " + std::string(id) + ": " +
                          error.localizedDescription());
  }
  Dictionary* report = decoded.mutableDictionary();
  if (report == nullptr) {
    DOZIDICRASH_LOG_ERROR("Could not load crash report");
    return std::nullopt;
  }
  const std::vector<std::string> attachments = getAttachmentPaths(reportID);
  if (!attachments.empty()) {
    Array paths;
    for (const std::string& path : attachments) paths.push_back(path);
    report->set("attachments", std::move(paths));
  }
  doctorReport(*report);
  return std::move(*report);
}

DozidiCrash::ReadReports DozidiCrash::readAllReports() const {
  ReadReports read;
  for (const std::int64_t reportID : reportIDs()) {
    read.readIDs.push_back(reportID);
    if (std::optional<Dictionary> report = reportWithIntID(reportID)) {
      read.reports.push_back(std::move(*report));
    } else {
      ++read.unreadable;
    }
  }
  return read;
}

Array DozidiCrash::allReports() const { return readAllReports().reports; }

std::vector<std::string> DozidiCrash::getAttachmentPaths(std::int64_t reportID) const {
  char folder[kDozidiCrashStorePathSize];
  dozidicrashstore_getAttachmentsPath(reportID, folder);
  foundation::FileManager& files = foundation::FileManager::defaultManager();
  bool isDirectory = false;
  if (folder[0] == '\0' || !files.fileExists(folder, &isDirectory) || !isDirectory) return {};
  auto entries = files.contentsOfDirectory(folder);
  if (!entries) return {};
  std::vector<std::string> paths;
  for (const std::string& entry : *entries) paths.push_back(std::string(folder) + "/" + entry);
  return paths;
}

void DozidiCrash::doctorReport(Dictionary& report) {
  const Value whole(report);
  const auto diagnose = [&whole] { return DozidiCrashDoctor::doctor()->diagnoseCrash(whole); };
  if (Value* crash = report.findMutable("crash"); crash != nullptr && crash->mutableDictionary() != nullptr) {
    if (std::optional<std::string> diagnosis = diagnose())
      crash->mutableDictionary()->set("diagnosis", std::move(*diagnosis));
  }
  Value* recrash = report.findMutable("recrash_report");
  Value* recrashCrash = recrash != nullptr && recrash->mutableDictionary() != nullptr
                            ? recrash->mutableDictionary()->findMutable("crash")
                            : nullptr;
  if (recrashCrash != nullptr && recrashCrash->mutableDictionary() != nullptr) {
    if (std::optional<std::string> diagnosis = diagnose()) {
      recrashCrash->mutableDictionary()->set("diagnosis", std::move(*diagnosis));
    }
  }
}

void DozidiCrash::applicationDidBecomeActive() { dozidicrash_notifyAppActive(true); }
void DozidiCrash::applicationWillResignActive() { dozidicrash_notifyAppActive(false); }
void DozidiCrash::applicationDidEnterBackground() { dozidicrash_notifyAppInForeground(false); }
void DozidiCrash::applicationWillEnterForeground() { dozidicrash_notifyAppInForeground(true); }
void DozidiCrash::applicationWillTerminate() { dozidicrash_notifyAppTerminate(); }
