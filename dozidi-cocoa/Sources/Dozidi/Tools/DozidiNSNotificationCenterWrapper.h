#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace foundation {
struct Notification;
}

/// The reporter's way to the default notification centre, replaceable in tests, and the names of
/// the application's lifecycle notifications. Any thread may use it.
class DozidiNSNotificationCenterWrapper {
 public:
  using Handler = std::function<void(const foundation::Notification&)>;

  static std::shared_ptr<DozidiNSNotificationCenterWrapper> create();
  virtual ~DozidiNSNotificationCenterWrapper();

  static const char* didBecomeActiveNotificationName() { return "UIApplicationDidBecomeActiveNotification"; }
  static const char* willResignActiveNotificationName() { return "UIApplicationWillResignActiveNotification"; }
  static const char* willTerminateNotificationName() { return "UIApplicationWillTerminateNotification"; }

  /// Calls `handler` on the posting thread for every notification `name`, until the observer is
  /// removed. `observer` only identifies the registration; the handler must not own the observer.
  virtual void addObserver(const void* observer, std::string name, Handler handler);
  /// Removes the registrations of `observer` for `name`.
  virtual void removeObserver(const void* observer, const std::string& name);
  /// Removes every registration of `observer`.
  virtual void removeObserver(const void* observer);

 protected:
  DozidiNSNotificationCenterWrapper() = default;

 private:
  struct Registration {
    std::string name;
    std::uint64_t token;
  };
  std::mutex lock_;
  std::map<const void*, std::vector<Registration>> registrations_;
};
