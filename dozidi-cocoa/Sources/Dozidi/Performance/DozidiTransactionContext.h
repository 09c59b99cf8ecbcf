#pragma once
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiSpanContext.h"

class DozidiThread;

/// Where a transaction's name comes from.
enum class DozidiTransactionNameSource : std::int64_t { Custom = 0, Url = 1, Route = 2, View = 3, Component = 4, Task = 5 };

/// The context of a transaction's root span: a span context with the transaction's name, the
/// name's source, the decision of an incoming parent trace, the sample rate the sampler used and
/// the thread that made it. The sample rate is behind a lock; the rest is fixed at creation but
/// for the sampling decision, which is atomic.
class DozidiTransactionContext : public DozidiSpanContext {
 public:
  /// New trace id and span id.
  static std::shared_ptr<DozidiTransactionContext> initWithName(
      std::string name, DozidiTransactionNameSource nameSource, std::string operation,
      DozidiSampleDecision sampled = DozidiSampleDecision::Undecided);
  static std::shared_ptr<DozidiTransactionContext> initWithName(std::string name, std::string operation) {
    return initWithName(std::move(name), DozidiTransactionNameSource::Custom, std::move(operation));
  }
  static std::shared_ptr<DozidiTransactionContext> initWithName(std::string name, std::string operation,
                                                                DozidiSampleDecision sampled) {
    return initWithName(std::move(name), DozidiTransactionNameSource::Custom, std::move(operation), sampled);
  }
  /// The ids of an incoming trace; the own decision stays undecided.
  static std::shared_ptr<DozidiTransactionContext> initWithName(std::string name, DozidiTransactionNameSource nameSource,
                                                                std::string operation, DozidiId traceId,
                                                                DozidiSpanId spanId,
                                                                std::optional<DozidiSpanId> parentSpanId,
                                                                DozidiSampleDecision parentSampled);

  const std::string& name() const { return name_; }
  DozidiTransactionNameSource nameSource() const { return nameSource_; }
  DozidiSampleDecision parentSampled() const { return parentSampled_; }
  std::optional<double> sampleRate() const;
  void setSampleRate(std::optional<double> sampleRate);
  const std::shared_ptr<DozidiThread>& threadInfo() const { return threadInfo_; }

 private:
  DozidiTransactionContext(std::string name, DozidiTransactionNameSource nameSource, std::string operation,
                           DozidiId traceId, DozidiSpanId spanId, std::optional<DozidiSpanId> parentSpanId,
                           DozidiSampleDecision sampled, DozidiSampleDecision parentSampled);

  std::string name_;
  DozidiTransactionNameSource nameSource_;
  DozidiSampleDecision parentSampled_;
  mutable std::mutex rateLock_;
  std::optional<double> sampleRate_;
  std::shared_ptr<DozidiThread> threadInfo_;
};
