#pragma once
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

class DozidiAppState;
class DozidiCrashWrapper;
class DozidiDispatchQueueWrapper;
class DozidiFileManager;
class DozidiNSNotificationCenterWrapper;
class DozidiSysctl;

/// Builds, stores and updates this run's app state ("app.state"), and reads the previous run's.
/// `start` and `stop` are counted: the first start observes the lifecycle notifications and
/// writes a fresh record, the last stop ends the observation (the file stays). Updates hold the
/// manager's lock across read, change and write, so that updates from any thread apply in turn.
class DozidiAppStateManager : public std::enable_shared_from_this<DozidiAppStateManager> {
 public:
  /// The name a hybrid SDK posts when its app becomes active.
  static constexpr const char* kHybridSdkDidBecomeActive = "DozidiHybridSdkDidBecomeActive";

  DozidiAppStateManager(std::optional<std::string> releaseName, std::shared_ptr<DozidiCrashWrapper> crashWrapper,
                        std::shared_ptr<DozidiFileManager> fileManager, std::shared_ptr<DozidiSysctl> sysctl,
                        std::shared_ptr<DozidiDispatchQueueWrapper> dispatchQueue,
                        std::shared_ptr<DozidiNSNotificationCenterWrapper> notificationCenter);
  ~DozidiAppStateManager();

  void start();
  void stop();

  std::shared_ptr<DozidiAppState> buildCurrentAppState() const;
  std::shared_ptr<DozidiAppState> loadPreviousAppState() const;
  void storeCurrentAppState();
  /// Applies `change` to the stored record and stores it back; nothing when there is none.
  void updateAppState(const std::function<void(DozidiAppState&)>& change);
  /// The same, later, on the manager's queue.
  void updateAppStateInBackground(std::function<void(DozidiAppState&)> change);

  long startCount() const { return startCount_; }

 private:
  std::optional<std::string> releaseName_;
  std::shared_ptr<DozidiCrashWrapper> crashWrapper_;
  std::shared_ptr<DozidiFileManager> fileManager_;
  std::shared_ptr<DozidiSysctl> sysctl_;
  std::shared_ptr<DozidiDispatchQueueWrapper> dispatchQueue_;
  std::shared_ptr<DozidiNSNotificationCenterWrapper> notificationCenter_;
  long startCount_ = 0;
  std::mutex lock_;
};
