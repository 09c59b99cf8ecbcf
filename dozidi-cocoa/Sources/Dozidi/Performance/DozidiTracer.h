#pragma once
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiAppStartMeasurement.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiProfilesSampler.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiTransactionContext.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/detail/DozidiLockedDictionary.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiSpan.h"

class DozidiDispatchBlock;
class DozidiDispatchQueueWrapper;
class DozidiHub;
class DozidiMeasurementValue;
class DozidiSpanRecord;
class DozidiTraceContext;
class DozidiTracer;
class DozidiTransaction;

/// Names the span that new children of a tracer hang under.
class DozidiTracerDelegate {
 public:
  virtual ~DozidiTracerDelegate() = default;
  virtual std::shared_ptr<DozidiSpan> activeSpanForTracer(DozidiTracer& tracer) = 0;
};

/// The root of one transaction: owns the root span and every child, decides when the
/// transaction is complete (an explicit finish, waiting for children, or the idle timer), adds
/// app-start spans and frame measurements, and hands the finished transaction to the hub once.
///
/// Spans finish on any thread, so completion runs on the finishing span's thread or on the
/// queue wrapper's queue for the idle timer; one atomic flag lets exactly one of them build and
/// send the transaction. The children, tags, data, measurements and the idle block each have a
/// lock of their own; no operation holds two of them at once except the children lock with a
/// child's own locks while the children are closed.
class DozidiTracer : public DozidiSpan, public std::enable_shared_from_this<DozidiTracer> {
 public:
  /// An auto-generated transaction lasting this long or longer is not sent.
  static constexpr double kMaxDuration = 500.0;
  /// The app-start measurement goes to a "ui.load" transaction starting within this many seconds
  /// of the app start's end, either way.
  static constexpr double kAppStartWindow = 5.0;

  static std::shared_ptr<DozidiTracer> initWithTransactionContext(std::shared_ptr<DozidiTransactionContext> context,
                                                                  std::shared_ptr<DozidiHub> hub,
                                                                  bool waitForChildren = false);
  static std::shared_ptr<DozidiTracer> initWithTransactionContext(
      std::shared_ptr<DozidiTransactionContext> context, std::shared_ptr<DozidiHub> hub,
      std::optional<DozidiProfilesSamplerDecision> profilesSamplerDecision, bool waitForChildren);
  /// An idle transaction: waits for its children and finishes by itself `idleTimeout` seconds
  /// after its last child finished, on the wrapper's queue.
  static std::shared_ptr<DozidiTracer> initWithTransactionContext(
      std::shared_ptr<DozidiTransactionContext> context, std::shared_ptr<DozidiHub> hub,
      std::optional<DozidiProfilesSamplerDecision> profilesSamplerDecision, double idleTimeout,
      std::shared_ptr<DozidiDispatchQueueWrapper> dispatchQueueWrapper);
  static std::shared_ptr<DozidiTracer> initWithTransactionContext(
      std::shared_ptr<DozidiTransactionContext> context, std::shared_ptr<DozidiHub> hub,
      std::optional<DozidiProfilesSamplerDecision> profilesSamplerDecision, bool waitForChildren, double idleTimeout,
      std::shared_ptr<DozidiDispatchQueueWrapper> dispatchQueueWrapper);
  ~DozidiTracer() override;

  /// The tracer itself for a tracer, a span's tracer for a span record, none otherwise.
  static std::shared_ptr<DozidiTracer> getTracer(const std::shared_ptr<DozidiSpan>& span);
  /// Lets the next "ui.load" transaction take the app-start measurement again.
  static void resetAppStartMeasurementRead();

  // The span operations; context, dates and the finished flag are the root span's.
  std::shared_ptr<DozidiSpan> startChildWithOperation(const std::string& operation,
                                                      std::optional<std::string> description = std::nullopt) override;
  void setDataValue(foundation::Value value, const std::string& key) override;
  void removeDataForKey(const std::string& key) override;
  std::optional<foundation::Dictionary> data() const override;
  void setTagValue(std::optional<std::string> value, const std::string& key) override;
  void removeTagForKey(const std::string& key) override;
  void setMeasurement(const std::string& name, foundation::Number value,
                      std::shared_ptr<const DozidiMeasurementUnit> unit = nullptr) override;
  foundation::Dictionary tags() const override;
  bool isFinished() const override;
  void finish() override;
  /// Remembers the status, cancels the idle timer and finishes when nothing holds it back.
  void finishWithStatus(DozidiSpanStatus status) override;
  /// The root span's dictionary with the tracer's data and tags under the root's own.
  foundation::Dictionary serialize() const override;
  std::shared_ptr<DozidiSpanContext> context() const override;
  std::optional<foundation::Date> timestamp() const override;
  void setTimestamp(std::optional<foundation::Date> timestamp) override;
  std::optional<foundation::Date> startTimestamp() const override;
  /// Also marks the start as set from outside, which leaves out the frame measurements.
  void setStartTimestamp(std::optional<foundation::Date> startTimestamp) override;
  std::optional<std::string> tracerTransactionName() const override { return transactionContext_->name(); }

  /// A new child of the span `parentId`; the do-nothing span once the tracer has finished.
  std::shared_ptr<DozidiSpan> startChildWithParentId(const DozidiSpanId& parentId, const std::string& operation,
                                                     std::optional<std::string> description);
  /// Every span of this tracer reports its end here.
  void spanFinished(const DozidiSpan& span);

  const std::shared_ptr<DozidiTransactionContext>& transactionContext() const { return transactionContext_; }
  const std::shared_ptr<DozidiHub>& hub() const { return hub_; }
  std::vector<std::shared_ptr<DozidiSpanRecord>> children() const;
  std::map<std::string, std::shared_ptr<const DozidiMeasurementValue>> measurements() const;
  std::shared_ptr<const DozidiAppStartMeasurement> appStartMeasurement() const { return appStartMeasurement_; }
  bool waitForChildren() const { return waitForChildren_; }
  double idleTimeout() const { return idleTimeout_; }
  /// The dynamic sampling context, made on first use from the hub's scope and options.
  std::shared_ptr<DozidiTraceContext> traceContext();

  /// Arms the idle timer anew, cancelling a pending one: the transaction then finishes
  /// `idleTimeout` seconds from now unless a child starts. Does nothing without an idle timeout.
  void dispatchIdleTimeout();

  void setDelegate(std::weak_ptr<DozidiTracerDelegate> delegate);
  /// Called once, with the tracer, when its root span finishes.
  void setFinishCallback(std::function<void(DozidiTracer&)> callback);

 private:
  DozidiTracer(std::shared_ptr<DozidiTransactionContext> context, std::shared_ptr<DozidiHub> hub, bool waitForChildren,
               double idleTimeout, std::shared_ptr<DozidiDispatchQueueWrapper> dispatchQueueWrapper);
  bool hasIdleTimeout() const { return idleTimeout_ > 0 && dispatchQueueWrapper_ != nullptr; }
  bool isAutoGenerated() const { return waitForChildren_ || hasIdleTimeout(); }
  std::shared_ptr<const DozidiAppStartMeasurement> lookUpAppStartMeasurement() const;
  void cancelIdleTimeout();
  std::shared_ptr<DozidiSpan> getActiveSpan();
  void canBeFinished();
  void finishInternal();
  std::shared_ptr<DozidiTransaction> toTransaction();
  std::vector<std::shared_ptr<DozidiSpanRecord>> buildAppStartSpans();
  void addMeasurements(DozidiTransaction& transaction);

  std::shared_ptr<DozidiTransactionContext> transactionContext_;
  std::shared_ptr<DozidiSpanRecord> rootSpan_;
  std::shared_ptr<DozidiHub> hub_;
  const bool waitForChildren_;
  const double idleTimeout_;
  std::shared_ptr<DozidiDispatchQueueWrapper> dispatchQueueWrapper_;
  std::shared_ptr<const DozidiAppStartMeasurement> appStartMeasurement_;

  mutable std::mutex childrenLock_;
  std::vector<std::shared_ptr<DozidiSpanRecord>> children_;
  detail::DozidiLockedDictionary tags_;
  detail::DozidiLockedDictionary data_;
  mutable std::mutex measurementsLock_;
  std::map<std::string, std::shared_ptr<const DozidiMeasurementValue>> measurements_;
  std::mutex idleLock_;
  std::shared_ptr<DozidiDispatchBlock> idleTimeoutBlock_;
  std::mutex traceContextLock_;
  std::shared_ptr<DozidiTraceContext> traceContext_;
  std::mutex callbackLock_;
  std::function<void(DozidiTracer&)> finishCallback_;
  std::weak_ptr<DozidiTracerDelegate> delegate_;
  std::atomic<bool> delegateSet_{false};

  std::atomic<bool> startTimeChanged_{false};
  std::atomic<bool> wasFinishCalled_{false};
  std::atomic<DozidiSpanStatus> finishStatus_{DozidiSpanStatus::Undefined};
  /// Claimed by the one caller that builds and hands on the transaction.
  std::atomic<bool> finishing_{false};
  bool framesTracked_ = false;
  std::uint64_t initTotalFrames_ = 0, initSlowFrames_ = 0, initFrozenFrames_ = 0;
};
