#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiTransactionContext.h"

#include <sys/syscall.h>
#include <unistd.h>

#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiStacktrace.h"

namespace {

/// The creating thread, by its kernel thread id.
std::shared_ptr<DozidiThread> currentThreadInfo() {
  const auto tid = static_cast<std::int64_t>(::syscall(SYS_gettid));
  return DozidiThread::initWithThreadId(foundation::Number::fromInt64(tid));
}

}  // namespace

DozidiTransactionContext::DozidiTransactionContext(std::string name, DozidiTransactionNameSource nameSource,
                                                   std::string operation, DozidiId traceId, DozidiSpanId spanId,
                                                   std::optional<DozidiSpanId> parentSpanId,
                                                   DozidiSampleDecision sampled, DozidiSampleDecision parentSampled)
    : DozidiSpanContext(Token(), std::move(traceId), std::move(spanId), std::move(parentSpanId), std::move(operation),
                        sampled),
      name_(std::move(name)),
      nameSource_(nameSource),
      parentSampled_(parentSampled),
      threadInfo_(currentThreadInfo()) {}

std::shared_ptr<DozidiTransactionContext> DozidiTransactionContext::initWithName(std::string name,
                                                                                DozidiTransactionNameSource nameSource,
                                                                                std::string operation,
                                                                                DozidiSampleDecision sampled) {
  return std::shared_ptr<DozidiTransactionContext>(
      new DozidiTransactionContext(std::move(name), nameSource, std::move(operation), DozidiId(), DozidiSpanId(),
                                   std::nullopt, sampled, DozidiSampleDecision::Undecided));
}

std::shared_ptr<DozidiTransactionContext> DozidiTransactionContext::initWithName(
    std::string name, DozidiTransactionNameSource nameSource, std::string operation, DozidiId traceId,
    DozidiSpanId spanId, std::optional<DozidiSpanId> parentSpanId, DozidiSampleDecision parentSampled) {
  return std::shared_ptr<DozidiTransactionContext>(new DozidiTransactionContext(
      std::move(name), nameSource, std::move(operation), std::move(traceId), std::move(spanId),
      std::move(parentSpanId), DozidiSampleDecision::Undecided, parentSampled));
}

std::optional<double> DozidiTransactionContext::sampleRate() const {
  std::lock_guard lock(rateLock_);
  return sampleRate_;
}

void DozidiTransactionContext::setSampleRate(std::optional<double> sampleRate) {
  std::lock_guard lock(rateLock_);
  sampleRate_ = sampleRate;
}
