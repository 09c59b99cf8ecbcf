#pragma once
#include <memory>
#include <mutex>

class DozidiANRTracker;
class DozidiAppStateManager;
class DozidiCrashWrapper;
class DozidiDispatchQueueWrapper;
class DozidiNSNotificationCenterWrapper;
class DozidiRandom;
class DozidiScreenshot;
class DozidiUIApplication;
class DozidiUIDeviceWrapper;
class DozidiViewHierarchy;
class DozidiThreadWrapper;

/// One shared set of the reporter's services, each made on first use and the same object
/// afterwards, each replaceable by its setter (tests install doubles this way). Every getter and
/// setter holds the container's lock, so any thread may use it.
class DozidiDependencyContainer {
 public:
  /// The one container, made on first call.
  static std::shared_ptr<DozidiDependencyContainer> sharedInstance();
  /// Forgets the shared container: the next sharedInstance() makes a new one whose services are
  /// made afresh. Holders of the old services keep them.
  static void reset();

  std::shared_ptr<DozidiRandom> random();
  void setRandom(std::shared_ptr<DozidiRandom> random);
  /// A wrapper over the default queue "dozidi-default".
  std::shared_ptr<DozidiDispatchQueueWrapper> dispatchQueueWrapper();
  void setDispatchQueueWrapper(std::shared_ptr<DozidiDispatchQueueWrapper> wrapper);
  std::shared_ptr<DozidiNSNotificationCenterWrapper> notificationCenterWrapper();
  void setNotificationCenterWrapper(std::shared_ptr<DozidiNSNotificationCenterWrapper> wrapper);
  std::shared_ptr<DozidiUIApplication> application();
  void setApplication(std::shared_ptr<DozidiUIApplication> application);
  /// Made outside the container's lock: making it waits for the main queue, which may itself be
  /// asking the container for something.
  std::shared_ptr<DozidiUIDeviceWrapper> uiDeviceWrapper();
  void setUIDeviceWrapper(std::shared_ptr<DozidiUIDeviceWrapper> wrapper);
  std::shared_ptr<DozidiScreenshot> screenshot();
  void setScreenshot(std::shared_ptr<DozidiScreenshot> screenshot);
  std::shared_ptr<DozidiViewHierarchy> viewHierarchy();
  void setViewHierarchy(std::shared_ptr<DozidiViewHierarchy> viewHierarchy);
  /// The process-wide crash wrapper unless a test set another.
  std::shared_ptr<DozidiCrashWrapper> crashWrapper();
  void setCrashWrapper(std::shared_ptr<DozidiCrashWrapper> wrapper);
  std::shared_ptr<DozidiThreadWrapper> threadWrapper();
  void setThreadWrapper(std::shared_ptr<DozidiThreadWrapper> wrapper);
  /// The app state manager of the current client (its release and file manager); none while no
  /// client is bound. Made on the first call that finds a client.
  std::shared_ptr<DozidiAppStateManager> appStateManager();
  void setAppStateManager(std::shared_ptr<DozidiAppStateManager> manager);
  /// The one app-hang tracker: the first call makes it with `timeout`, later calls get the same
  /// tracker whatever timeout they pass.
  std::shared_ptr<DozidiANRTracker> getANRTracker(double timeout);

 private:
  DozidiDependencyContainer() = default;

  // Recursive: a service made on first use may read other services of the container.
  std::recursive_mutex lock_;
  std::shared_ptr<DozidiRandom> random_;
  std::shared_ptr<DozidiDispatchQueueWrapper> dispatchQueueWrapper_;
  std::shared_ptr<DozidiNSNotificationCenterWrapper> notificationCenterWrapper_;
  std::shared_ptr<DozidiUIApplication> application_;
  std::shared_ptr<DozidiUIDeviceWrapper> uiDeviceWrapper_;
  std::shared_ptr<DozidiScreenshot> screenshot_;
  std::shared_ptr<DozidiViewHierarchy> viewHierarchy_;
  std::shared_ptr<DozidiCrashWrapper> crashWrapper_;
  std::shared_ptr<DozidiThreadWrapper> threadWrapper_;
  std::shared_ptr<DozidiAppStateManager> appStateManager_;
  std::shared_ptr<DozidiANRTracker> anrTracker_;
};
