#pragma once
#include <functional>
#include <memory>

#include "platform/foundation/Value.h"

class DozidiHub;
class DozidiScope;

/// The static entry point of the crash reporter. All of its state is process-wide; the current hub
/// is read and replaced under one lock, so any thread may call it.
class DozidiSDK {
 public:
  DozidiSDK() = delete;

  /// Starts the reporter: a new client made from `options` and a new hub over it become current.
  /// A second start replaces the client and the hub.
  static void startWithOptions(const foundation::Dictionary& options);
  /// Stops the reporter: the client is unbound from the current hub and there is no current hub
  /// any more (the next `currentHub()` makes a fresh one without a client).
  static void close();

  /// The current hub; when there is none, a hub without client and scope is made and kept.
  static std::shared_ptr<DozidiHub> currentHub();
  static void setCurrentHub(std::shared_ptr<DozidiHub> hub);
  /// True when a current hub exists and has a client.
  static bool isEnabled();

  /// Asks the current hub to configure its scope: `block` runs at once, on the caller's thread,
  /// with the hub's scope, only when the reporter has been started; otherwise it is not called.
  static void configureScope(const std::function<void(DozidiScope&)>& block);
};
