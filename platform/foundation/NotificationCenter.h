#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <type_traits>
#include <vector>

#include "platform/foundation/Value.h"

namespace foundation {

class OperationQueue;

/// A posted notification.
struct Notification {
  std::string name;
  /// The object posted with the notification, if any.
  Value object;
  /// The identity of the posting object, when the poster gave a pointer instead of a value.
  const void* sender = nullptr;
  Dictionary userInfo;
};

/// Delivers named notifications to the observers registered for them (the platform's
/// NSNotificationCenter). Thread-safe.
class NotificationCenter {
 public:
  using ObserverToken = std::uint64_t;
  using Block = std::function<void(const Notification&)>;

  /// The process-wide centre. Never destroyed.
  static NotificationCenter& defaultCenter();
  NotificationCenter() = default;
  NotificationCenter(const NotificationCenter&) = delete;
  NotificationCenter& operator=(const NotificationCenter&) = delete;

  /// Delivers to the observers of `name` (and those of every name), in registration order,
  /// synchronously on the posting thread; an observer with a queue gets its block added to that
  /// queue instead. Observers added during a post see the next post; observers removed during a
  /// post are not called afterwards.
  void post(const std::string& name, Value object = {}, Dictionary userInfo = {});
  /// Posts with the poster's identity in place of an object value (a pointer would otherwise be
  /// easy to confuse with a text object, hence the separate name).
  void postFromSender(const std::string& name, const void* sender, Dictionary userInfo = {});
  void post(const Notification& notification);

  /// Calls `block` for each notification named `name` (an empty name: every notification), on the
  /// posting thread when `queue` is null, else as an operation on `queue`.
  ObserverToken addObserver(std::string name, std::shared_ptr<OperationQueue> queue, Block block);

  /// Calls `handler(observer, notification)` for each notification named `name` while `observer`
  /// is alive; once it is gone the registration is skipped and dropped. The centre holds the
  /// observer weakly; the handler must not own it.
  template <class T, class Handler>
  ObserverToken addObserver(const std::weak_ptr<T>& observer, std::string name, Handler handler) {
    std::weak_ptr<T> weak = observer;
    const void* identity = identityOf(observer);
    return addEntry(std::move(name), nullptr, identity, std::weak_ptr<const void>(observer), true,
                    [weak, handler = std::move(handler)](const Notification& n) {
                      if (auto strong = weak.lock()) invokeHandler(handler, *strong, n);
                    });
  }

  void removeObserver(ObserverToken token);
  /// Removes every registration of `observer` (any name).
  void removeObserver(const void* observer);
  /// Removes the registrations of `observer` for `name`.
  void removeObserver(const void* observer, const std::string& name);

 private:
  struct Entry;

  template <class T>
  static const void* identityOf(const std::weak_ptr<T>& observer) {
    auto strong = observer.lock();
    return strong.get();
  }
  template <class Handler, class T>
  static void invokeHandler(Handler& handler, T& target, const Notification& n) {
    if constexpr (std::is_member_function_pointer_v<Handler>) {
      (target.*handler)(n);
    } else {
      handler(target, n);
    }
  }

  ObserverToken addEntry(std::string name, std::shared_ptr<OperationQueue> queue,
                         const void* identity, std::weak_ptr<const void> observer, bool weaklyHeld,
                         Block block);

  std::mutex mutex_;
  std::vector<std::shared_ptr<Entry>> entries_;
  ObserverToken nextToken_ = 1;
};

}  // namespace foundation
