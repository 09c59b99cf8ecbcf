#pragma once
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class DozidiDispatchQueueWrapper;
class DozidiTracer;
namespace uikit {
class NSObject;
}

/// Starts an idle transaction for every control action the application dispatches, named after
/// the action's target class and method, so that the work the action triggers lands in it.
/// Repeated actions of one name extend the newest transaction; an action of another name
/// finishes it and starts its own.
///
/// Actions arrive on the main thread. The list of active transactions has a recursive lock: it
/// is held across the handling of an action, during which finishing the previous transaction
/// calls back into the tracker on the same thread; transactions that end through their idle
/// timer call back on the queue wrapper's queue.
class DozidiUIEventTracker : public std::enable_shared_from_this<DozidiUIEventTracker> {
 public:
  static constexpr const char* kOperationAction = "ui.action";
  static constexpr const char* kOperationClick = "ui.action.click";
  /// The key the tracker's listener is registered under with the send-action wrapper.
  static constexpr const char* kSwizzleKey = "DozidiUIEventTrackerSwizzleSendAction";

  static std::shared_ptr<DozidiUIEventTracker> initWithDispatchQueueWrapper(
      std::shared_ptr<DozidiDispatchQueueWrapper> dispatchQueueWrapper, double idleTimeout);

  /// Listens to the application's action dispatch.
  void start();
  /// Stops listening; transactions already started run on.
  void stop();

  /// Handles one dispatched action: `action` is the selector's name, `targetClassName` the
  /// class of the target (none without a target), `sender` the object that sent it.
  void sendActionCalled(const std::string& action, const std::optional<std::string>& targetClassName,
                        const uikit::NSObject* sender);

  /// "ui.action.click" for buttons, bar-button items and page controls (and their subclasses),
  /// "ui.action" for every other sender.
  static std::string getOperation(const uikit::NSObject* sender);
  /// "Class.action" for an action of at most one argument, "Class.action(arg2:arg3:)" otherwise.
  static std::string getTransactionName(const std::string& action, const std::string& targetClassName);
  static bool isUIEventOperation(std::string_view operation) {
    return operation == kOperationAction || operation == kOperationClick;
  }

  /// The transactions started and not finished yet, oldest first.
  std::vector<std::shared_ptr<DozidiTracer>> activeTransactions() const;
  double idleTimeout() const { return idleTimeout_; }

 private:
  DozidiUIEventTracker(std::shared_ptr<DozidiDispatchQueueWrapper> dispatchQueueWrapper, double idleTimeout);

  std::shared_ptr<DozidiDispatchQueueWrapper> dispatchQueueWrapper_;
  double idleTimeout_;
  mutable std::recursive_mutex lock_;
  std::vector<std::shared_ptr<DozidiTracer>> activeTransactions_;
};
