#pragma once
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiSpanContext.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiSpanId.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiInAppLogic.h"

class DozidiPerformanceTracker;
namespace uikit {
class UIViewController;
}

/// Measures a view controller's loading and appearing: one "ui.load" transaction per
/// controller, opened at loadView or viewDidLoad and closed at viewDidAppear (ok) or
/// viewWillDisappear (cancelled), with one child span per lifecycle method and the spans
/// "viewAppearing" and "layoutSubViews" between the will- and did-calls.
///
/// The replaced lifecycle methods call the entries on the main thread; each entry runs its
/// `callbackToOrigin` (the replaced implementation) exactly once. An override that calls its
/// superclass's implementation, replaced as well, is measured once: the inner calls only run
/// the callback.
class DozidiUIViewControllerPerformanceTracker {
 public:
  using Callback = std::function<void()>;
  static constexpr const char* kOperation = "ui.load";

  /// The one tracker, made on first use with the SDK's in-app options.
  static std::shared_ptr<DozidiUIViewControllerPerformanceTracker> shared();
  static std::shared_ptr<DozidiUIViewControllerPerformanceTracker> create(
      std::shared_ptr<DozidiPerformanceTracker> tracker, DozidiInAppLogic inAppLogic);

  void viewControllerLoadView(uikit::UIViewController& controller, const Callback& callbackToOrigin);
  void viewControllerViewDidLoad(uikit::UIViewController& controller, const Callback& callbackToOrigin);
  void viewControllerViewWillAppear(uikit::UIViewController& controller, const Callback& callbackToOrigin);
  void viewControllerViewDidAppear(uikit::UIViewController& controller, const Callback& callbackToOrigin);
  void viewControllerViewWillDisappear(uikit::UIViewController& controller, const Callback& callbackToOrigin);
  void viewControllerViewWillLayoutSubViews(uikit::UIViewController& controller, const Callback& callbackToOrigin);
  void viewControllerViewDidLayoutSubViews(uikit::UIViewController& controller, const Callback& callbackToOrigin);

  /// The id of the controller's open "ui.load" transaction, if any.
  std::optional<DozidiSpanId> transactionSpanId(const uikit::UIViewController& controller);
  const std::shared_ptr<DozidiPerformanceTracker>& tracker() const { return tracker_; }

 private:
  /// What the tracker keeps on each controller between its lifecycle calls.
  struct ControllerState {
    /// The controller, when shared ownership holds it; its entry goes once it is gone.
    std::weak_ptr<const void> life;
    bool owned = false;
    std::optional<DozidiSpanId> spanId;
    std::optional<DozidiSpanId> viewAppearingSpanId;
    std::optional<DozidiSpanId> layoutSubviewSpanId;
    std::set<std::string> spansInExecution;
  };

  DozidiUIViewControllerPerformanceTracker(std::shared_ptr<DozidiPerformanceTracker> tracker,
                                           DozidiInAppLogic inAppLogic);
  std::shared_ptr<ControllerState> stateOf(const uikit::UIViewController& controller);
  void limitOverride(const std::string& method, uikit::UIViewController& controller, const Callback& callbackToOrigin,
                     const std::function<void(ControllerState&)>& work);
  void createTransaction(uikit::UIViewController& controller, ControllerState& state);
  void measurePerformance(const std::string& method, ControllerState& state, const Callback& callbackToOrigin);
  /// Runs `work` with the controller's transaction active; without an open transaction only the
  /// callback runs.
  void whileAliveAndActive(ControllerState& state, const Callback& callbackToOrigin, const Callback& work);
  /// Finishes the span `stored` points at, when it is set, and forgets it.
  void finishStored(std::optional<DozidiSpanId>& stored, DozidiSpanStatus status);
  void finishTransaction(uikit::UIViewController& controller, DozidiSpanStatus status, const std::string& method,
                         const Callback& callbackToOrigin);
  void startStoredSpan(uikit::UIViewController& controller, const std::string& method, const std::string& spanName,
                       std::optional<DozidiSpanId> ControllerState::*stored, const Callback& callbackToOrigin);

  std::shared_ptr<DozidiPerformanceTracker> tracker_;
  DozidiInAppLogic inAppLogic_;
  std::mutex statesLock_;
  std::map<const uikit::UIViewController*, std::shared_ptr<ControllerState>> states_;
};
