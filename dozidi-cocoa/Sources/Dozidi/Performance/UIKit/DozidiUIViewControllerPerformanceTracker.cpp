#include "dozidi-cocoa/Sources/Dozidi/Performance/UIKit/DozidiUIViewControllerPerformanceTracker.h"

#include <typeinfo>

#include "dozidi-cocoa/Sources/Dozidi/DozidiOptions.h"
#include "dozidi-cocoa/Sources/Dozidi/DozidiSDK.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiTransactionContext.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/UIKit/DozidiPerformanceTracker.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/UIKit/DozidiUIViewControllerSanitizer.h"
#include "platform/uikit/ViewController.h"

namespace {
constexpr auto kComponent = DozidiTransactionNameSource::Component;
}

std::shared_ptr<DozidiUIViewControllerPerformanceTracker> DozidiUIViewControllerPerformanceTracker::shared() {
  static auto* instance = new std::shared_ptr<DozidiUIViewControllerPerformanceTracker>([] {
    auto options = DozidiSDK::options();
    return create(DozidiPerformanceTracker::shared(),
                  options ? DozidiInAppLogic(options->inAppIncludes, options->inAppExcludes) : DozidiInAppLogic({}, {}));
  }());
  return *instance;
}

std::shared_ptr<DozidiUIViewControllerPerformanceTracker> DozidiUIViewControllerPerformanceTracker::create(
    std::shared_ptr<DozidiPerformanceTracker> tracker, DozidiInAppLogic inAppLogic) {
  return std::shared_ptr<DozidiUIViewControllerPerformanceTracker>(
      new DozidiUIViewControllerPerformanceTracker(std::move(tracker), std::move(inAppLogic)));
}

DozidiUIViewControllerPerformanceTracker::DozidiUIViewControllerPerformanceTracker(
    std::shared_ptr<DozidiPerformanceTracker> tracker, DozidiInAppLogic inAppLogic)
    : tracker_(std::move(tracker)), inAppLogic_(std::move(inAppLogic)) {}

std::shared_ptr<DozidiUIViewControllerPerformanceTracker::ControllerState>
DozidiUIViewControllerPerformanceTracker::stateOf(const uikit::UIViewController& controller) {
  std::lock_guard lock(statesLock_);
  // A controller that is gone leaves its entry behind; a new controller at the same address
  // must not inherit it, and entries of gone controllers are dropped as they are met.
  for (auto it = states_.begin(); it != states_.end();) {
    const bool gone = it->second->owned && it->second->life.expired();
    it = gone ? states_.erase(it) : std::next(it);
  }
  auto& state = states_[&controller];
  if (!state) {
    state = std::make_shared<ControllerState>();
    state->life = controller.weak_from_this();
    state->owned = !state->life.expired();
  }
  return state;
}

std::optional<DozidiSpanId> DozidiUIViewControllerPerformanceTracker::transactionSpanId(
    const uikit::UIViewController& controller) {
  return stateOf(controller)->spanId;
}

void DozidiUIViewControllerPerformanceTracker::limitOverride(const std::string& method,
                                                             uikit::UIViewController& controller,
                                                             const Callback& callbackToOrigin,
                                                             const std::function<void(ControllerState&)>& work) {
  auto state = stateOf(controller);
  if (!state->spansInExecution.insert(method).second) {
    callbackToOrigin();
    return;
  }
  work(*state);
  state->spansInExecution.erase(method);
}

void DozidiUIViewControllerPerformanceTracker::createTransaction(uikit::UIViewController& controller,
                                                                 ControllerState& state) {
  if (state.spanId) return;
  const auto spanId = tracker_->startSpanWithName(DozidiUIViewControllerSanitizer::sanitizeViewControllerName(controller),
                                                  kComponent, kOperation);
  if (spanId != DozidiSpanId::empty()) state.spanId = spanId;
}

void DozidiUIViewControllerPerformanceTracker::measurePerformance(const std::string& method, ControllerState& state,
                                                                  const Callback& callbackToOrigin) {
  if (!state.spanId) {
    callbackToOrigin();
    return;
  }
  tracker_->measureSpanWithDescription(method, kComponent, kOperation, *state.spanId, callbackToOrigin);
}

void DozidiUIViewControllerPerformanceTracker::whileAliveAndActive(ControllerState& state,
                                                                   const Callback& callbackToOrigin,
                                                                   const Callback& work) {
  if (!state.spanId || !tracker_->isSpanAlive(*state.spanId)) {
    callbackToOrigin();
    return;
  }
  tracker_->activateSpan(*state.spanId, work);
}

void DozidiUIViewControllerPerformanceTracker::finishStored(std::optional<DozidiSpanId>& stored,
                                                            DozidiSpanStatus status) {
  if (!stored) return;
  tracker_->finishSpan(*stored, status);
  stored.reset();
}

void DozidiUIViewControllerPerformanceTracker::viewControllerLoadView(uikit::UIViewController& controller,
                                                                      const Callback& callbackToOrigin) {
  limitOverride("loadView", controller, callbackToOrigin, [&](ControllerState& state) {
    if (!inAppLogic_.isClassInApp(typeid(controller))) {
      callbackToOrigin();
      return;
    }
    createTransaction(controller, state);
    measurePerformance("loadView", state, callbackToOrigin);
  });
}

void DozidiUIViewControllerPerformanceTracker::viewControllerViewDidLoad(uikit::UIViewController& controller,
                                                                         const Callback& callbackToOrigin) {
  limitOverride("viewDidLoad", controller, callbackToOrigin, [&](ControllerState& state) {
    createTransaction(controller, state);
    measurePerformance("viewDidLoad", state, callbackToOrigin);
  });
}

void DozidiUIViewControllerPerformanceTracker::startStoredSpan(uikit::UIViewController& controller,
                                                               const std::string& method, const std::string& spanName,
                                                               std::optional<DozidiSpanId> ControllerState::*stored,
                                                               const Callback& callbackToOrigin) {
  limitOverride(method, controller, callbackToOrigin, [&](ControllerState& state) {
    whileAliveAndActive(state, callbackToOrigin, [&] {
      measurePerformance(method, state, callbackToOrigin);
      // A second call before the closing one (a nested layout pass, an appearance that was
      // cancelled and begun again) closes the span it left open: the transaction waits for
      // all its children, so an orphaned span would keep it open for good.
      finishStored(state.*stored, DozidiSpanStatus::Ok);
      const auto spanId = tracker_->startSpanWithName(spanName, kComponent, kOperation);
      if (spanId != DozidiSpanId::empty()) state.*stored = spanId;
    });
  });
}

void DozidiUIViewControllerPerformanceTracker::viewControllerViewWillAppear(uikit::UIViewController& controller,
                                                                           const Callback& callbackToOrigin) {
  startStoredSpan(controller, "viewWillAppear", "viewAppearing", &ControllerState::viewAppearingSpanId,
                  callbackToOrigin);
}

void DozidiUIViewControllerPerformanceTracker::viewControllerViewWillLayoutSubViews(uikit::UIViewController& controller,
                                                                                   const Callback& callbackToOrigin) {
  startStoredSpan(controller, "viewWillLayoutSubviews", "layoutSubViews", &ControllerState::layoutSubviewSpanId,
                  callbackToOrigin);
}

void DozidiUIViewControllerPerformanceTracker::viewControllerViewDidLayoutSubViews(uikit::UIViewController& controller,
                                                                                  const Callback& callbackToOrigin) {
  limitOverride("viewDidLayoutSubviews", controller, callbackToOrigin, [&](ControllerState& state) {
    whileAliveAndActive(state, callbackToOrigin, [&] {
      finishStored(state.layoutSubviewSpanId, DozidiSpanStatus::Ok);
      measurePerformance("viewDidLayoutSubviews", state, callbackToOrigin);
    });
  });
}

void DozidiUIViewControllerPerformanceTracker::viewControllerViewDidAppear(uikit::UIViewController& controller,
                                                                          const Callback& callbackToOrigin) {
  finishTransaction(controller, DozidiSpanStatus::Ok, "viewDidAppear", callbackToOrigin);
}

void DozidiUIViewControllerPerformanceTracker::viewControllerViewWillDisappear(uikit::UIViewController& controller,
                                                                              const Callback& callbackToOrigin) {
  finishTransaction(controller, DozidiSpanStatus::Cancelled, "viewWillDisappear", callbackToOrigin);
}

void DozidiUIViewControllerPerformanceTracker::finishTransaction(uikit::UIViewController& controller,
                                                                 DozidiSpanStatus status, const std::string& method,
                                                                 const Callback& callbackToOrigin) {
  limitOverride(method, controller, callbackToOrigin, [&](ControllerState& state) {
    if (!state.spanId || !tracker_->isSpanAlive(*state.spanId)) {
      callbackToOrigin();
      return;
    }
    tracker_->activateSpan(*state.spanId, [&] {
      finishStored(state.viewAppearingSpanId, status);
      measurePerformance(method, state, callbackToOrigin);
    });
    tracker_->finishSpan(*state.spanId, status);
    state.spanId.reset();
  });
}
