#pragma once
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "dozidi-cocoa/Sources/DozidiCrash/Recording/DozidiCrashReportWriter.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Reporting/Filters/DozidiCrashReportFilter.h"
#include "platform/foundation/Value.h"

class DozidiNSNotificationCenterWrapper;
namespace runtime {
class NSException;
}

/// The crash recorder's object-level facade: its configuration (base path, monitor mask, report
/// limit, memory introspection), install and uninstall, the application's life cycle fed into the
/// crash state, the user info embedded in every report's "user" section, and the object side's
/// view of the report store: count, IDs, decoded reports with attachments and diagnosis,
/// deletion, and "send all" through a report sink.
///
/// Reports are never deleted unread: after a send, only the reports that were read (handed to the
/// sink, or found unreadable) are deleted, by ID, and only when the sink completed. Settings may be
/// changed from any thread; the life-cycle handlers run on the thread that posts the notifications.
class DozidiCrash : public std::enable_shared_from_this<DozidiCrash> {
 public:
  /// What `sendAllReportsWithCompletion` deletes: nothing, or (both other values) the reports it
  /// read, once the sink completed. A sink that fails, or no sink, leaves every report in place.
  static constexpr std::int32_t kDeleteNone = 0;
  static constexpr std::int32_t kDeleteOnSuccess = 1;
  static constexpr std::int32_t kDeleteAlways = 2;
  /// Monitor bit of the zombie monitor.
  static constexpr std::int32_t kMonitorZombie = 0x100;

  using ExceptionHandler = void (*)(runtime::NSException* exception);

  /// The process-wide facade, made once with `init()`; null when there is no caches folder.
  static std::shared_ptr<DozidiCrash> sharedInstance();
  /// A facade on "<caches>/DozidiCrash/<bundle name>"; null when there is no caches folder.
  static std::shared_ptr<DozidiCrash> init();
  /// A facade on `basePath` with the defaults; null (logged) when `basePath` is none.
  static std::shared_ptr<DozidiCrash> initWithBasePath(std::optional<std::string> basePath);
  ~DozidiCrash();

  /// Installs the recorder with the monitor mask (restoring the mask kept by `uninstall`) and
  /// observes the five life-cycle notifications. False, with no observer added, when the mask in
  /// force is 0.
  bool install();
  /// Stops every monitor, keeps the mask for the next `install` and stops observing.
  void uninstall();

  bool introspectMemory() const;
  void setIntrospectMemory(bool introspectMemory);
  bool catchZombies() const;
  /// Sets the zombie monitor's bit in the mask when true and clears it when false.
  void setCatchZombies(bool catchZombies);
  bool printPreviousLog() const;
  void setPrintPreviousLog(bool printPreviousLog);
  std::int32_t deleteBehaviorAfterSendAll() const;
  void setDeleteBehaviorAfterSendAll(std::int32_t deleteBehavior);
  std::int32_t monitoring() const;
  /// Hands the mask to the recorder and keeps the mask it reports back.
  void setMonitoring(std::int32_t monitoring);
  std::int32_t demangleLanguages() const;
  void setDemangleLanguages(std::int32_t demangleLanguages);
  std::int32_t maxReportCount() const;
  void setMaxReportCount(std::int32_t maxReportCount);
  bool monitoringFromUninstalledToRestore() const;
  std::int32_t monitoringWhenUninstalled() const;
  std::shared_ptr<DozidiCrashReportFilter> sink() const;
  void setSink(std::shared_ptr<DozidiCrashReportFilter> sink);
  /// The dictionary last accepted by `setUserInfo`.
  std::optional<foundation::Dictionary> userInfo() const;
  /// Encodes the dictionary (sorted keys) and hands the text to the report writer; none clears it.
  /// A dictionary that cannot be encoded is logged and leaves the previous user info in force.
  void setUserInfo(std::optional<foundation::Dictionary> userInfo);
  DozidiCrashReportWriteCallback onCrash() const;
  /// Called inside the report's "user" section, during a crash.
  void setOnCrash(DozidiCrashReportWriteCallback onCrash);
  const std::string& bundleName() const { return bundleName_; }
  const std::string& basePath() const { return basePath_; }
  std::vector<std::string> doNotIntrospectClasses() const;
  void setDoNotIntrospectClasses(std::vector<std::string> classNames);
  ExceptionHandler uncaughtExceptionHandler() const;
  void setUncaughtExceptionHandler(ExceptionHandler handler);
  ExceptionHandler currentSnapshotUserReportedExceptionHandler() const;
  void setCurrentSnapshotUserReportedExceptionHandler(ExceptionHandler handler);
  std::shared_ptr<DozidiNSNotificationCenterWrapper> notificationCenter() const;
  void setNotificationCenter(std::shared_ptr<DozidiNSNotificationCenterWrapper> notificationCenter);
  void setDozidiNSNotificationCenterWrapper(std::shared_ptr<DozidiNSNotificationCenterWrapper> wrapper) {
    setNotificationCenter(std::move(wrapper));
  }

  // Read live from the crash state; zero before install.
  double activeDurationSinceLastCrash() const;
  double backgroundDurationSinceLastCrash() const;
  std::int32_t launchesSinceLastCrash() const;
  std::int32_t sessionsSinceLastCrash() const;
  double activeDurationSinceLaunch() const;
  double backgroundDurationSinceLaunch() const;
  std::int32_t sessionsSinceLaunch() const;
  bool crashedLastLaunch() const;

  /// The system monitor's facts, built on every call ("systemName", "machine", … "usableMemorySize");
  /// texts only when known, numbers always (0 while the system monitor is off).
  foundation::Dictionary systemInfo() const;

  /// Reads every stored report, hands them to the sink, then deletes the reports that were read
  /// (by `deleteBehaviorAfterSendAll`, only when the sink completed). The completion, when given,
  /// always receives the sink's outcome, on the thread where the sink completed.
  void sendAllReportsWithCompletion(DozidiCrashReportFilterCompletion onCompletion);
  /// Hands `reports` to the sink. No reports: completes at once with YES. No sink: completes with
  /// NO and the error "No sink set. Crash reports not sent." (domain "DozidiCrash").
  void sendReports(foundation::Array reports, DozidiCrashReportFilterCompletion onCompletion);

  void deleteAllReports();
  void deleteReportWithID(std::int64_t reportID);
  std::int32_t reportCount() const;
  /// Every stored report ID, ascending.
  std::vector<std::int64_t> reportIDs() const;
  /// The decoded report with its attachments and diagnosis; none when it cannot be read.
  std::optional<foundation::Dictionary> reportWithIntID(std::int64_t reportID) const;
  std::optional<foundation::Dictionary> reportWithID(const foundation::Number& reportID) const {
    return reportWithIntID(reportID.int64Value());
  }
  /// Every readable report, in ascending ID order.
  foundation::Array allReports() const;
  /// The stored report's fixed-up JSON text; none when it cannot be read or fixed.
  std::optional<std::string> loadCrashReportJSONWithID(std::int64_t reportID) const;
  /// The files in the report's attachments folder; empty when there is none.
  std::vector<std::string> getAttachmentPaths(std::int64_t reportID) const;
  /// Sets "crash"."diagnosis" (and the recrash report's) to the crash doctor's diagnosis.
  static void doctorReport(foundation::Dictionary& report);

  void applicationDidBecomeActive();
  void applicationWillResignActive();
  void applicationDidEnterBackground();
  void applicationWillEnterForeground();
  void applicationWillTerminate();

 private:
  DozidiCrash(std::string bundleName, std::string basePath);
  struct ReadReports;
  ReadReports readAllReports() const;
  void observeLifeCycle();
  void stopObservingLifeCycle();
  template <class T>
  T locked(const T& field) const {
    std::lock_guard lock(lock_);
    return field;
  }
  template <class T>
  void setLocked(T& field, T value) {
    std::lock_guard lock(lock_);
    field = std::move(value);
  }

  const std::string bundleName_;
  const std::string basePath_;
  mutable std::mutex lock_;
  bool introspectMemory_ = true;
  bool catchZombies_ = false;
  bool printPreviousLog_ = false;
  bool monitoringFromUninstalledToRestore_ = false;
  std::int32_t deleteBehaviorAfterSendAll_ = kDeleteAlways;
  std::int32_t monitoring_ = 0;
  std::int32_t demangleLanguages_ = 0;
  std::int32_t maxReportCount_ = 0;
  std::int32_t monitoringWhenUninstalled_ = 0;
  std::shared_ptr<DozidiCrashReportFilter> sink_;
  std::optional<foundation::Dictionary> userInfo_;
  DozidiCrashReportWriteCallback onCrash_ = nullptr;
  std::vector<std::string> doNotIntrospectClasses_;
  ExceptionHandler uncaughtExceptionHandler_ = nullptr;
  ExceptionHandler currentSnapshotUserReportedExceptionHandler_ = nullptr;
  std::shared_ptr<DozidiNSNotificationCenterWrapper> notificationCenter_;
  // Serialises setUserInfo's encoding and hand-over.
  std::mutex userInfoLock_;
};
