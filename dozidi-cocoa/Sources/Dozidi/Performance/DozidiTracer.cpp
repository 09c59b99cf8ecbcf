#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiTracer.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiClient.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiHub.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiSDK.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/PrivateDozidiSDKOnly.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiFramesTracker.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiNoOpSpan.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiProfiler.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiSpanRecord.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiTransaction.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiMeasurementUnit.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiTraceContext.h"
#include "dozidi-cocoa/Sources/Dozidi/Scope/DozidiScope.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiDispatchQueueWrapper.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiFoundationHelpers.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiLog.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiTime.h"

using foundation::Date;
using foundation::Dictionary;

namespace {

constexpr const char* kUILoadOperation = "ui.load";

/// Process-wide: the app-start measurement goes to at most one transaction.
std::mutex& appStartLock() {
  static std::mutex lock;
  return lock;
}
bool gAppStartMeasurementRead = false;

}  // namespace

DozidiTracer::DozidiTracer(std::shared_ptr<DozidiTransactionContext> context, std::shared_ptr<DozidiHub> hub,
                           bool waitForChildren, double idleTimeout,
                           std::shared_ptr<DozidiDispatchQueueWrapper> dispatchQueueWrapper)
    : transactionContext_(std::move(context)),
      hub_(std::move(hub)),
      waitForChildren_(waitForChildren),
      idleTimeout_(std::isfinite(idleTimeout) ? idleTimeout : 0.0),
      dispatchQueueWrapper_(std::move(dispatchQueueWrapper)) {}

DozidiTracer::~DozidiTracer() = default;

std::shared_ptr<DozidiTracer> DozidiTracer::initWithTransactionContext(std::shared_ptr<DozidiTransactionContext> context,
                                                                       std::shared_ptr<DozidiHub> hub,
                                                                       bool waitForChildren) {
  return initWithTransactionContext(std::move(context), std::move(hub), std::nullopt, waitForChildren, 0.0, nullptr);
}

std::shared_ptr<DozidiTracer> DozidiTracer::initWithTransactionContext(
    std::shared_ptr<DozidiTransactionContext> context, std::shared_ptr<DozidiHub> hub,
    std::optional<DozidiProfilesSamplerDecision> profilesSamplerDecision, bool waitForChildren) {
  return initWithTransactionContext(std::move(context), std::move(hub), profilesSamplerDecision, waitForChildren, 0.0,
                                    nullptr);
}

std::shared_ptr<DozidiTracer> DozidiTracer::initWithTransactionContext(
    std::shared_ptr<DozidiTransactionContext> context, std::shared_ptr<DozidiHub> hub,
    std::optional<DozidiProfilesSamplerDecision> profilesSamplerDecision, double idleTimeout,
    std::shared_ptr<DozidiDispatchQueueWrapper> dispatchQueueWrapper) {
  return initWithTransactionContext(std::move(context), std::move(hub), profilesSamplerDecision, true, idleTimeout,
                                    std::move(dispatchQueueWrapper));
}

std::shared_ptr<DozidiTracer> DozidiTracer::initWithTransactionContext(
    std::shared_ptr<DozidiTransactionContext> context, std::shared_ptr<DozidiHub> hub,
    std::optional<DozidiProfilesSamplerDecision> profilesSamplerDecision, bool waitForChildren, double idleTimeout,
    std::shared_ptr<DozidiDispatchQueueWrapper> dispatchQueueWrapper) {
  DOZIDI_LOG_DEBUG("Starting transaction at system time " + std::to_string(getAbsoluteTime()));
  auto tracer = std::shared_ptr<DozidiTracer>(new DozidiTracer(std::move(context), std::move(hub), waitForChildren,
                                                               idleTimeout, std::move(dispatchQueueWrapper)));
  tracer->rootSpan_ = DozidiSpanRecord::initWithTracer(tracer, tracer->transactionContext_);
  tracer->appStartMeasurement_ = tracer->lookUpAppStartMeasurement();
  auto frames = DozidiFramesTracker::sharedInstance();
  if (frames->isRunning()) {
    const auto current = frames->currentFrames();
    tracer->framesTracked_ = true;
    tracer->initTotalFrames_ = current.total;
    tracer->initSlowFrames_ = current.slow;
    tracer->initFrozenFrames_ = current.frozen;
  }
  // Armed last: the timer may finish the tracer on the queue's thread, which then reads the above.
  if (tracer->hasIdleTimeout()) tracer->dispatchIdleTimeout();
  if (profilesSamplerDecision && profilesSamplerDecision->decision == DozidiSampleDecision::Yes) {
    DozidiProfiler::startForSpanID(tracer->transactionContext_->spanId(), tracer->hub_);
  }
  return tracer;
}

std::shared_ptr<DozidiTracer> DozidiTracer::getTracer(const std::shared_ptr<DozidiSpan>& span) {
  if (!span) return nullptr;
  if (auto tracer = std::dynamic_pointer_cast<DozidiTracer>(span)) return tracer;
  if (auto record = std::dynamic_pointer_cast<DozidiSpanRecord>(span)) return record->tracer();
  return nullptr;
}

void DozidiTracer::resetAppStartMeasurementRead() {
  std::lock_guard lock(appStartLock());
  gAppStartMeasurementRead = false;
}

std::shared_ptr<const DozidiAppStartMeasurement> DozidiTracer::lookUpAppStartMeasurement() const {
  if (transactionContext_->operation() != kUILoadOperation) return nullptr;
  if (PrivateDozidiSDKOnly::appStartMeasurementHybridSDKMode()) return nullptr;
  std::shared_ptr<const DozidiAppStartMeasurement> measurement;
  {
    std::lock_guard lock(appStartLock());
    if (gAppStartMeasurementRead) return nullptr;
    measurement = DozidiSDK::getAppStartMeasurement();
    if (!measurement) return nullptr;
    // Used up now, whether or not this transaction lies close enough to take it.
    gAppStartMeasurementRead = true;
  }
  const Date end = measurement->appStartTimestamp.addingTimeInterval(measurement->duration);
  const auto start = rootSpan_->startTimestamp();
  if (!start) return nullptr;
  const double difference = end.timeIntervalSince(*start);
  if (std::isnan(difference) || difference < -kAppStartWindow || difference > kAppStartWindow) return nullptr;
  return measurement;
}

// Idle timer.

void DozidiTracer::dispatchIdleTimeout() {
  if (!hasIdleTimeout()) return;
  std::shared_ptr<DozidiDispatchBlock> block;
  {
    std::lock_guard lock(idleLock_);
    if (idleTimeoutBlock_) dispatchQueueWrapper_->dispatchCancel(idleTimeoutBlock_);
    // The block keeps the tracer alive until it has run or been cancelled and released.
    idleTimeoutBlock_ = DozidiDispatchBlock::create([self = shared_from_this()] { self->finishInternal(); });
    block = idleTimeoutBlock_;
  }
  dispatchQueueWrapper_->dispatchAfter(idleTimeout_, block);
}

void DozidiTracer::cancelIdleTimeout() {
  if (!hasIdleTimeout()) return;
  std::shared_ptr<DozidiDispatchBlock> block;
  {
    std::lock_guard lock(idleLock_);
    block = std::move(idleTimeoutBlock_);
    idleTimeoutBlock_ = nullptr;
  }
  if (block) dispatchQueueWrapper_->dispatchCancel(block);
}

// Span operations.

std::shared_ptr<DozidiSpan> DozidiTracer::getActiveSpan() {
  // Most tracers never get a delegate: their children skip the lock.
  if (!delegateSet_.load(std::memory_order_acquire)) return rootSpan_;
  std::shared_ptr<DozidiTracerDelegate> delegate;
  {
    std::lock_guard lock(callbackLock_);
    delegate = delegate_.lock();
  }
  if (!delegate) return rootSpan_;
  auto active = delegate->activeSpanForTracer(*this);
  if (!active || active.get() == static_cast<DozidiSpan*>(this)) return rootSpan_;
  std::lock_guard lock(childrenLock_);
  for (const auto& child : children_) {
    if (child.get() == active.get()) return active;
  }
  return rootSpan_;
}

std::shared_ptr<DozidiSpan> DozidiTracer::startChildWithOperation(const std::string& operation,
                                                                  std::optional<std::string> description) {
  return getActiveSpan()->startChildWithOperation(operation, std::move(description));
}

std::shared_ptr<DozidiSpan> DozidiTracer::startChildWithParentId(const DozidiSpanId& parentId,
                                                                 const std::string& operation,
                                                                 std::optional<std::string> description) {
  cancelIdleTimeout();
  if (isFinished()) {
    DOZIDI_LOG_WARN("Starting a child on a finished span is not supported; it won't be sent to Dozidi.");
    return DozidiNoOpSpan::shared();
  }
  auto context = DozidiSpanContext::initWithTraceId(transactionContext_->traceId(), DozidiSpanId(), parentId,
                                                    operation, transactionContext_->sampled());
  context->setSpanDescription(std::move(description));
  DOZIDI_LOG_DEBUG("Starting child span under " + parentId.value());
  auto child = DozidiSpanRecord::initWithTracer(shared_from_this(), std::move(context));
  std::lock_guard lock(childrenLock_);
  children_.push_back(child);
  return child;
}

void DozidiTracer::setDataValue(foundation::Value value, const std::string& key) { data_.set(key, std::move(value)); }
void DozidiTracer::removeDataForKey(const std::string& key) { data_.remove(key); }
std::optional<Dictionary> DozidiTracer::data() const { return data_.copy(); }
void DozidiTracer::setTagValue(std::optional<std::string> value, const std::string& key) {
  tags_.setText(key, std::move(value));
}
void DozidiTracer::removeTagForKey(const std::string& key) { tags_.remove(key); }
Dictionary DozidiTracer::tags() const { return tags_.copy(); }

void DozidiTracer::setMeasurement(const std::string& name, foundation::Number value,
                                  std::shared_ptr<const DozidiMeasurementUnit> unit) {
  auto measurement = std::make_shared<const DozidiMeasurementValue>(value, std::move(unit));
  std::lock_guard lock(measurementsLock_);
  measurements_[name] = std::move(measurement);
}

std::map<std::string, std::shared_ptr<const DozidiMeasurementValue>> DozidiTracer::measurements() const {
  std::lock_guard lock(measurementsLock_);
  return measurements_;
}

std::vector<std::shared_ptr<DozidiSpanRecord>> DozidiTracer::children() const {
  std::lock_guard lock(childrenLock_);
  return children_;
}

bool DozidiTracer::isFinished() const { return rootSpan_->isFinished(); }
std::shared_ptr<DozidiSpanContext> DozidiTracer::context() const { return transactionContext_; }
std::optional<Date> DozidiTracer::timestamp() const { return rootSpan_->timestamp(); }
void DozidiTracer::setTimestamp(std::optional<Date> timestamp) { rootSpan_->setTimestamp(timestamp); }
std::optional<Date> DozidiTracer::startTimestamp() const { return rootSpan_->startTimestamp(); }

void DozidiTracer::setStartTimestamp(std::optional<Date> startTimestamp) {
  rootSpan_->setStartTimestamp(startTimestamp);
  startTimeChanged_.store(true, std::memory_order_release);
}

void DozidiTracer::setDelegate(std::weak_ptr<DozidiTracerDelegate> delegate) {
  std::lock_guard lock(callbackLock_);
  delegate_ = std::move(delegate);
  delegateSet_.store(true, std::memory_order_release);
}

void DozidiTracer::setFinishCallback(std::function<void(DozidiTracer&)> callback) {
  std::lock_guard lock(callbackLock_);
  finishCallback_ = std::move(callback);
}

std::shared_ptr<DozidiTraceContext> DozidiTracer::traceContext() {
  std::lock_guard lock(traceContextLock_);
  if (!traceContext_ && hub_) {
    traceContext_ = DozidiTraceContext::initWithTracer(*this, *hub_->scope(), hub_->getClient() ? hub_->getClient()->options() : nullptr);
  }
  return traceContext_;
}

// Completion.

void DozidiTracer::spanFinished(const DozidiSpan& span) {
  if (&span == rootSpan_.get()) return;
  canBeFinished();
}

void DozidiTracer::finish() {
  DOZIDI_LOG_DEBUG("-[DozidiTracer finish] for trace ID " + transactionContext_->traceId().dozidiIdString());
  finishWithStatus(DozidiSpanStatus::Ok);
}

void DozidiTracer::finishWithStatus(DozidiSpanStatus status) {
  finishStatus_.store(status, std::memory_order_release);
  wasFinishCalled_.store(true, std::memory_order_release);
  cancelIdleTimeout();
  canBeFinished();
}

void DozidiTracer::canBeFinished() {
  if (isFinished()) return;
  bool waitingForChildren = false;
  if (waitForChildren_) {
    std::lock_guard lock(childrenLock_);
    waitingForChildren = std::any_of(children_.begin(), children_.end(), [](const auto& c) { return !c->isFinished(); });
  }
  const bool finishCalled = wasFinishCalled_.load(std::memory_order_acquire);
  if (!finishCalled && !waitingForChildren && hasIdleTimeout()) {
    dispatchIdleTimeout();
    return;
  }
  if (!finishCalled || waitingForChildren) return;
  finishInternal();
}

void DozidiTracer::finishInternal() {
  // Two spans finishing at once on two threads, or a span and the idle timer, may both get here:
  // only the first builds and hands on the transaction.
  if (finishing_.exchange(true, std::memory_order_acq_rel)) return;
  {
    // The idle block holds this tracer; letting it go breaks the cycle.
    std::lock_guard lock(idleLock_);
    idleTimeoutBlock_ = nullptr;
  }
  rootSpan_->finishWithStatus(finishStatus_.load(std::memory_order_acquire));

  std::function<void(DozidiTracer&)> callback;
  {
    std::lock_guard lock(callbackLock_);
    callback = std::move(finishCallback_);
    finishCallback_ = nullptr;
  }
  if (callback) callback(*this);
  if (!hub_) return;

  hub_->scope()->useSpan([this](const std::shared_ptr<DozidiSpan>& span) {
    if (span.get() == static_cast<DozidiSpan*>(this)) hub_->scope()->setSpan(nullptr);
  });

  const auto end = timestamp();
  bool droppedForNoChildren = false;
  {
    std::lock_guard lock(childrenLock_);
    if (idleTimeout_ > 0 && children_.empty()) {
      droppedForNoChildren = true;
    } else {
      for (const auto& child : children_) {
        if (child->isFinished()) continue;
        child->finishWithStatus(DozidiSpanStatus::DeadlineExceeded);
        child->setTimestamp(end);
      }
      if (idleTimeout_ > 0) {
        // An idle transaction ends with its last child, not with the idle time that followed.
        auto latest = startTimestamp();
        for (const auto& child : children_) {
          const auto childEnd = child->timestamp();
          if (childEnd && (!latest || *childEnd > *latest)) latest = childEnd;
        }
        if (latest) setTimestamp(latest);
      }
    }
  }
  const DozidiSpanId& rootId = transactionContext_->spanId();
  DozidiProfiler::stopProfilingSpan(rootId);
  if (droppedForNoChildren) {
    // Nothing is sent, so the profile started for it has nothing to belong to either.
    DozidiProfiler::dropTransaction(rootId);
    return;
  }

  auto transaction = toTransaction();
  const auto start = startTimestamp();
  const auto finalEnd = timestamp();
  if (isAutoGenerated() && start && finalEnd && finalEnd->timeIntervalSince(*start) >= kMaxDuration) {
    DOZIDI_LOG_INFO("Auto generated transaction exceeded the max duration of " + std::to_string(kMaxDuration) +
                    " seconds. Not capturing transaction.");
    DozidiProfiler::dropTransaction(rootId);
    return;
  }
  hub_->captureTransaction(transaction, *hub_->scope());
  DozidiProfiler::linkTransaction(*transaction);
}

std::vector<std::shared_ptr<DozidiSpanRecord>> DozidiTracer::buildAppStartSpans() {
  const auto measurement = appStartMeasurement_;
  if (!measurement) return {};
  const bool cold = measurement->type == DozidiAppStartType::Cold;
  if (!cold && measurement->type != DozidiAppStartType::Warm) return {};
  const std::string operation = cold ? "app.start.cold" : "app.start.warm";
  const Date appStartEnd = measurement->appStartTimestamp.addingTimeInterval(measurement->duration);

  std::vector<std::shared_ptr<DozidiSpanRecord>> spans;
  auto makeSpan = [&](const DozidiSpanId& parent, const char* description, Date start, Date end) {
    auto context = DozidiSpanContext::initWithTraceId(transactionContext_->traceId(), DozidiSpanId(), parent,
                                                      operation, transactionContext_->sampled());
    context->setSpanDescription(description);
    auto span = DozidiSpanRecord::initWithTracer(shared_from_this(), std::move(context));
    span->setStartTimestamp(start);
    span->setTimestamp(end);
    spans.push_back(span);
    return span->context()->spanId();
  };
  const auto first = makeSpan(transactionContext_->spanId(), cold ? "Cold Start" : "Warm Start",
                              measurement->appStartTimestamp, appStartEnd);
  if (!measurement->isPreWarmed) {
    makeSpan(first, "Pre Runtime Init", measurement->appStartTimestamp, measurement->runtimeInitTimestamp);
    makeSpan(first, "Runtime Init to Pre Main Initializers", measurement->runtimeInitTimestamp,
             measurement->moduleInitializationTimestamp);
  }
  makeSpan(first, "UIKit and Application Init", measurement->moduleInitializationTimestamp,
           measurement->didFinishLaunchingTimestamp);
  makeSpan(first, "Initial Frame Render", measurement->didFinishLaunchingTimestamp, appStartEnd);
  return spans;
}

std::shared_ptr<DozidiTransaction> DozidiTracer::toTransaction() {
  auto appStartSpans = buildAppStartSpans();
  std::vector<std::shared_ptr<DozidiSpanRecord>> children;
  {
    std::lock_guard lock(childrenLock_);
    children_.insert(children_.end(), appStartSpans.begin(), appStartSpans.end());
    children = children_;
  }
  if (appStartMeasurement_) setStartTimestamp(appStartMeasurement_->appStartTimestamp);
  auto transaction = DozidiTransaction::initWithTrace(shared_from_this(), std::move(children));
  transaction->transaction = transactionContext_->name();
  addMeasurements(*transaction);
  return transaction;
}

void DozidiTracer::addMeasurements(DozidiTransaction& transaction) {
  const auto measurement = appStartMeasurement_;
  if (measurement &&
      (measurement->type == DozidiAppStartType::Cold || measurement->type == DozidiAppStartType::Warm)) {
    const bool cold = measurement->type == DozidiAppStartType::Cold;
    setMeasurement(cold ? "app_start_cold" : "app_start_warm",
                   foundation::Number::fromDouble(measurement->duration * 1000.0));
    std::string startType = cold ? "cold" : "warm";
    if (measurement->isPreWarmed) startType += ".prewarmed";
    Dictionary context = transaction.context.value_or(Dictionary());
    mergeEntriesFromDictionary(context, Dictionary{{"app", Dictionary{{"start_type", startType}}}});
    transaction.context = std::move(context);
  }

  auto frames = DozidiFramesTracker::sharedInstance();
  // Counts are only meaningful against the snapshot taken when this transaction started.
  if (!framesTracked_ || !frames->isRunning() || startTimeChanged_.load(std::memory_order_acquire)) return;
  const auto current = frames->currentFrames();
  const auto total = static_cast<std::int64_t>(current.total) - static_cast<std::int64_t>(initTotalFrames_);
  const auto slow = static_cast<std::int64_t>(current.slow) - static_cast<std::int64_t>(initSlowFrames_);
  const auto frozen = static_cast<std::int64_t>(current.frozen) - static_cast<std::int64_t>(initFrozenFrames_);
  if (total < 0 || slow < 0 || frozen < 0 || (total == 0 && slow == 0 && frozen == 0)) return;
  setMeasurement("frames_total", foundation::Number::fromInt64(total));
  setMeasurement("frames_slow", foundation::Number::fromInt64(slow));
  setMeasurement("frames_frozen", foundation::Number::fromInt64(frozen));
  DOZIDI_LOG_DEBUG("Frames for transaction \"" + transactionContext_->operation() + "\" Total:" +
                   std::to_string(total) + " Slow:" + std::to_string(slow) + " Frozen:" + std::to_string(frozen));
}

Dictionary DozidiTracer::serialize() const {
  Dictionary result = rootSpan_->serialize();
  if (auto data = data_.copy(); !data.empty()) {
    const auto* own = result["data"].dictionary();
    result.set("data", detail::layOver(dozidi_sanitize(data), own ? *own : Dictionary()));
  }
  if (auto tags = tags_.copy(); !tags.empty()) {
    const auto* own = result["tags"].dictionary();
    result.set("tags", detail::layOver(std::move(tags), own ? *own : Dictionary()));
  }
  return result;
}
