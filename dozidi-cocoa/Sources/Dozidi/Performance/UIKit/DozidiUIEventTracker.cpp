#include "dozidi-cocoa/Sources/Dozidi/Performance/UIKit/DozidiUIEventTracker.h"

#include <algorithm>

#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiHub.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiSDK.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiTracer.h"
#include "dozidi-cocoa/Sources/Dozidi/Scope/DozidiScope.h"
#include "dozidi-cocoa/Sources/Dozidi/Swizzling/DozidiSwizzleWrapper.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiLog.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/PageControl.h"
#include "platform/uikit/ViewController.h"

namespace {

std::vector<std::string> splitAtColons(const std::string& text) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    const auto colon = text.find(':', start);
    parts.push_back(text.substr(start, colon - start));
    if (colon == std::string::npos) return parts;
    start = colon + 1;
  }
}

}  // namespace

std::shared_ptr<DozidiUIEventTracker> DozidiUIEventTracker::initWithSwizzleWrapper(
    std::shared_ptr<DozidiSwizzleWrapper> swizzleWrapper, std::shared_ptr<DozidiDispatchQueueWrapper> dispatchQueueWrapper,
    double idleTimeout) {
  return std::shared_ptr<DozidiUIEventTracker>(
      new DozidiUIEventTracker(std::move(swizzleWrapper), std::move(dispatchQueueWrapper), idleTimeout));
}

DozidiUIEventTracker::DozidiUIEventTracker(std::shared_ptr<DozidiSwizzleWrapper> swizzleWrapper,
                                           std::shared_ptr<DozidiDispatchQueueWrapper> dispatchQueueWrapper,
                                           double idleTimeout)
    : swizzleWrapper_(std::move(swizzleWrapper)),
      dispatchQueueWrapper_(std::move(dispatchQueueWrapper)),
      idleTimeout_(idleTimeout) {}

void DozidiUIEventTracker::start() {
  std::weak_ptr<DozidiUIEventTracker> weakSelf = weak_from_this();
  swizzleWrapper_->swizzleSendAction(
      [weakSelf](const std::string& action, runtime::Object* target, runtime::Object* sender, runtime::Object*) {
        auto self = weakSelf.lock();
        if (!self) return;
        std::optional<std::string> targetClassName;
        if (target != nullptr) targetClassName = runtime::object_getClassName(target);
        self->sendActionCalled(action, targetClassName, sender);
      },
      kSwizzleKey);
}

void DozidiUIEventTracker::stop() { swizzleWrapper_->removeSwizzleSendActionForKey(kSwizzleKey); }

std::string DozidiUIEventTracker::getOperation(const runtime::Object* sender) {
  if (dynamic_cast<const uikit::UIButton*>(sender) || dynamic_cast<const uikit::UIBarButtonItem*>(sender) ||
      dynamic_cast<const uikit::UIPageControl*>(sender)) {
    return kOperationClick;
  }
  return kOperationAction;
}

std::string DozidiUIEventTracker::getTransactionName(const std::string& action, const std::string& targetClassName) {
  const auto parts = splitAtColons(action);
  if (parts.size() < 3) return targetClassName + "." + parts.front();
  std::string name = targetClassName + "." + parts.front() + "(";
  for (std::size_t i = 1; i + 1 < parts.size(); ++i) name += parts[i] + ":";
  return name + ")";
}

std::vector<std::shared_ptr<DozidiTracer>> DozidiUIEventTracker::activeTransactions() const {
  std::lock_guard lock(lock_);
  return activeTransactions_;
}

void DozidiUIEventTracker::sendActionCalled(const std::string& action,
                                            const std::optional<std::string>& targetClassName,
                                            const runtime::Object* sender) {
  if (!targetClassName || !sender || targetClassName->find("SwiftUI") != std::string::npos) return;
  const auto name = getTransactionName(action, *targetClassName);

  std::lock_guard lock(lock_);
  if (!activeTransactions_.empty()) {
    auto newest = activeTransactions_.back();
    if (newest->transactionContext()->name() == name) {
      newest->dispatchIdleTimeout();
      return;
    }
    newest->finish();
    DOZIDI_LOG_DEBUG("DozidiUIEventTracker finished transaction " + newest->transactionContext()->name());
  }

  auto hub = DozidiSDK::currentHub();
  if (!hub) return;
  auto context = DozidiTransactionContext::initWithName(name, DozidiTransactionNameSource::Component,
                                                        getOperation(sender));
  std::shared_ptr<DozidiTracer> transaction;
  hub->scope()->useSpan([&](const std::shared_ptr<DozidiSpan>& bound) {
    bool bindToScope = !bound;
    if (bound) {
      const auto& operation = bound->context()->operation();
      bindToScope = operation != "ui.load" && operation.find("ui.action") != std::string::npos;
    }
    transaction = hub->startTransactionWithContext(context, bindToScope, foundation::Dictionary(), idleTimeout_,
                                                   dispatchQueueWrapper_);
    DOZIDI_LOG_DEBUG("DozidiUIEventTracker automatically started a new transaction with name: " + name +
                     ", bindToScope: " + (bindToScope ? "YES" : "NO"));
  });
  if (!transaction) return;

  if (const auto* view = dynamic_cast<const uikit::UIView*>(sender); view && !view->accessibilityIdentifier.empty()) {
    transaction->setTagValue(view->accessibilityIdentifier, "accessibilityIdentifier");
  }
  std::weak_ptr<DozidiUIEventTracker> weakSelf = weak_from_this();
  transaction->setFinishCallback([weakSelf](DozidiTracer& finished) {
    auto self = weakSelf.lock();
    if (!self) return;
    std::lock_guard lock(self->lock_);
    auto& list = self->activeTransactions_;
    list.erase(std::remove_if(list.begin(), list.end(), [&](const auto& t) { return t.get() == &finished; }),
               list.end());
  });
  activeTransactions_.push_back(std::move(transaction));
}
