#include "dozidi-cocoa/Sources/Dozidi/Performance/UIKit/DozidiPerformanceTracker.h"

#include <algorithm>

#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiHub.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiSDK.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/UIKit/DozidiUIEventTracker.h"
#include "dozidi-cocoa/Sources/Dozidi/Scope/DozidiScope.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiLog.h"

std::shared_ptr<DozidiPerformanceTracker> DozidiPerformanceTracker::shared() {
  // Never destroyed: transactions started by it may finish while the process exits.
  static auto* tracker = new std::shared_ptr<DozidiPerformanceTracker>(create());
  return *tracker;
}

std::shared_ptr<DozidiPerformanceTracker> DozidiPerformanceTracker::create() {
  return std::shared_ptr<DozidiPerformanceTracker>(new DozidiPerformanceTracker());
}

DozidiSpanId DozidiPerformanceTracker::startSpanWithName(const std::string& name, const std::string& operation) {
  return startSpanWithName(name, DozidiTransactionNameSource::Custom, operation);
}

DozidiSpanId DozidiPerformanceTracker::startSpanWithName(const std::string& name,
                                                         DozidiTransactionNameSource nameSource,
                                                         const std::string& operation) {
  std::shared_ptr<DozidiSpan> active;
  {
    std::lock_guard lock(stackLock_);
    if (!activeSpanStack_.empty()) active = activeSpanStack_.back();
  }
  auto span = active ? active->startChildWithOperation(operation, name) : startTransaction(name, nameSource, operation);
  // The do-nothing span (a finished parent) carries the empty id: nothing to register.
  if (!span || span->context()->spanId() == DozidiSpanId::empty()) {
    DOZIDI_LOG_ERROR("startSpanWithName:operation: spanId is nil.");
    return DozidiSpanId::empty();
  }
  const auto spanId = span->context()->spanId();
  std::lock_guard lock(spansLock_);
  spans_[spanId] = std::move(span);
  return spanId;
}

std::shared_ptr<DozidiSpan> DozidiPerformanceTracker::startTransaction(const std::string& name,
                                                                       DozidiTransactionNameSource nameSource,
                                                                       const std::string& operation) {
  auto hub = DozidiSDK::currentHub();
  if (!hub) return nullptr;
  auto context = DozidiTransactionContext::initWithName(name, nameSource, operation);
  std::shared_ptr<DozidiSpan> started;
  hub->scope()->useSpan([&](const std::shared_ptr<DozidiSpan>& bound) {
    bool bindToScope = !bound;
    // A user-interaction transaction gives way to the screen that the interaction opened.
    if (bound && DozidiUIEventTracker::isUIEventOperation(bound->context()->operation())) {
      bound->finishWithStatus(DozidiSpanStatus::Cancelled);
      bindToScope = true;
    }
    auto tracer = hub->startTransactionWithContext(context, bindToScope, foundation::Dictionary(), true);
    if (tracer) tracer->setDelegate(weak_from_this());
    started = std::move(tracer);
  });
  return started;
}

void DozidiPerformanceTracker::activateSpan(const DozidiSpanId& spanId, const std::function<void()>& block) {
  auto span = getSpan(spanId);
  if (span) {
    std::lock_guard lock(stackLock_);
    activeSpanStack_.push_back(span);
  }
  if (block) block();
  if (span) removeActiveSpan(span);
}

void DozidiPerformanceTracker::measureSpanWithDescription(const std::string& description, const std::string& operation,
                                                          const std::function<void()>& block) {
  measureSpanWithDescription(description, DozidiTransactionNameSource::Custom, operation, block);
}

void DozidiPerformanceTracker::measureSpanWithDescription(const std::string& description,
                                                          DozidiTransactionNameSource nameSource,
                                                          const std::string& operation,
                                                          const std::function<void()>& block) {
  const auto spanId = startSpanWithName(description, nameSource, operation);
  activateSpan(spanId, block);
  finishSpan(spanId);
}

void DozidiPerformanceTracker::measureSpanWithDescription(const std::string& description, const std::string& operation,
                                                          const DozidiSpanId& parentSpanId,
                                                          const std::function<void()>& block) {
  measureSpanWithDescription(description, DozidiTransactionNameSource::Custom, operation, parentSpanId, block);
}

void DozidiPerformanceTracker::measureSpanWithDescription(const std::string& description,
                                                          DozidiTransactionNameSource nameSource,
                                                          const std::string& operation,
                                                          const DozidiSpanId& parentSpanId,
                                                          const std::function<void()>& block) {
  activateSpan(parentSpanId, [&] { measureSpanWithDescription(description, nameSource, operation, block); });
}

std::optional<DozidiSpanId> DozidiPerformanceTracker::activeSpanId() {
  std::lock_guard lock(stackLock_);
  if (activeSpanStack_.empty()) return std::nullopt;
  return activeSpanStack_.back()->context()->spanId();
}

bool DozidiPerformanceTracker::pushActiveSpan(const DozidiSpanId& spanId) {
  auto span = getSpan(spanId);
  if (!span) return false;
  std::lock_guard lock(stackLock_);
  activeSpanStack_.push_back(std::move(span));
  return true;
}

void DozidiPerformanceTracker::popActiveSpan() {
  std::lock_guard lock(stackLock_);
  if (!activeSpanStack_.empty()) activeSpanStack_.pop_back();
}

void DozidiPerformanceTracker::removeActiveSpan(const std::shared_ptr<DozidiSpan>& span) {
  std::lock_guard lock(stackLock_);
  auto found = std::find(activeSpanStack_.rbegin(), activeSpanStack_.rend(), span);
  if (found != activeSpanStack_.rend()) activeSpanStack_.erase(std::next(found).base());
}

void DozidiPerformanceTracker::finishSpan(const DozidiSpanId& spanId) { finishSpan(spanId, DozidiSpanStatus::Ok); }

void DozidiPerformanceTracker::finishSpan(const DozidiSpanId& spanId, DozidiSpanStatus status) {
  std::shared_ptr<DozidiSpan> span;
  {
    std::lock_guard lock(spansLock_);
    auto found = spans_.find(spanId);
    if (found == spans_.end()) return;
    span = std::move(found->second);
    spans_.erase(found);
  }
  span->finishWithStatus(status);
}

bool DozidiPerformanceTracker::isSpanAlive(const DozidiSpanId& spanId) {
  std::lock_guard lock(spansLock_);
  return spans_.count(spanId) != 0;
}

std::shared_ptr<DozidiSpan> DozidiPerformanceTracker::getSpan(const DozidiSpanId& spanId) {
  std::lock_guard lock(spansLock_);
  auto found = spans_.find(spanId);
  return found == spans_.end() ? nullptr : found->second;
}

std::shared_ptr<DozidiSpan> DozidiPerformanceTracker::activeSpanForTracer(DozidiTracer&) {
  std::lock_guard lock(stackLock_);
  return activeSpanStack_.empty() ? nullptr : activeSpanStack_.back();
}
