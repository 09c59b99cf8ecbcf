#pragma once
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "platform/runtime/Methods.h"

/// A listener of the application's action dispatch: the action's name (the selector's name, as
/// "buttonTapped:forEvent:"), the target, the sender and the event (each may be null).
using DozidiSwizzleSendActionCallback = std::function<void(const std::string& action, runtime::Object* target,
                                                           runtime::Object* sender, runtime::Object* event)>;

/// Shares one replacement of the application's "sendAction:to:from:forEvent:" among listeners,
/// each under a key. The listeners are kept under a lock and called from a copy taken under it,
/// so that one may be added or removed on any thread, also while actions are dispatched. The
/// replacement, once made, stays; without listeners it passes straight through.
class DozidiSwizzleWrapper {
 public:
  static std::shared_ptr<DozidiSwizzleWrapper> sharedInstance();
  virtual ~DozidiSwizzleWrapper() = default;

  /// Keeps `callback` under `key` (replacing one under the same key). The first listener makes
  /// the replacement, once per process.
  virtual void swizzleSendAction(DozidiSwizzleSendActionCallback callback, const std::string& key);
  /// Removes the listener under `key`; the replacement stays.
  virtual void removeSwizzleSendActionForKey(const std::string& key);

  /// Calls every listener, in the order of their keys, with the action's name and the arguments.
  static void sendActionCalled(runtime::SEL action, runtime::Object* target, runtime::Object* sender,
                               runtime::Object* event);
  /// A copy of the listeners by key.
  static std::map<std::string, DozidiSwizzleSendActionCallback> swizzleSendActionCallbacks();
  static void removeAllCallbacks();
  /// True with at least one listener.
  static bool hasCallbacks();
};
