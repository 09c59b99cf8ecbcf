#pragma once
// Test doubles shared by the performance-monitoring tests: a clock and a queue wrapper that move
// only when the test says so, a random source that returns what it is given, a transport that
// keeps the envelopes the client hands it, and a display link the test ticks by hand.
#include <algorithm>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiDisplayLinkWrapper.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiCurrentDate.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiDispatchQueueWrapper.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiRandom.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiDataCategory.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiEnvelope.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiTransport.h"
#include "platform/foundation/Date.h"

namespace performance_test {

/// A date provider whose time moves only through advance(); installed as the reporter's clock
/// for the life of the object.
class TestCurrentDateProvider final : public DozidiCurrentDateProvider {
 public:
  static constexpr double kStart = 1'700'000'000.0;

  foundation::Date date() override {
    std::lock_guard lock(lock_);
    return foundation::Date::fromTimeIntervalSince1970(kStart + elapsed_);
  }
  double dispatchTimeNow() override {
    std::lock_guard lock(lock_);
    return 1000.0 + elapsed_;
  }
  std::int64_t timezoneOffset() override { return 0; }
  void advance(double seconds) {
    std::lock_guard lock(lock_);
    elapsed_ += seconds;
  }

 private:
  std::mutex lock_;
  double elapsed_ = 0;
};

/// Installs a TestCurrentDateProvider as the reporter's clock; restores the default when destroyed.
class ScopedTestClock {
 public:
  ScopedTestClock() : provider_(std::make_shared<TestCurrentDateProvider>()) {
    DozidiCurrentDate::setCurrentDateProvider(provider_);
  }
  ~ScopedTestClock() { DozidiCurrentDate::setCurrentDateProvider(nullptr); }
  ScopedTestClock(const ScopedTestClock&) = delete;
  ScopedTestClock& operator=(const ScopedTestClock&) = delete;
  TestCurrentDateProvider* operator->() const { return provider_.get(); }
  const std::shared_ptr<TestCurrentDateProvider>& provider() const { return provider_; }

 private:
  std::shared_ptr<TestCurrentDateProvider> provider_;
};

/// A queue wrapper on the test's own thread: asynchronous blocks run at once, delayed blocks when
/// advance() moves the clock past their time, in time order.
class ManualQueueWrapper final : public DozidiDispatchQueueWrapper {
 public:
  explicit ManualQueueWrapper(std::shared_ptr<TestCurrentDateProvider> clock)
      : DozidiDispatchQueueWrapper("manual"), clock_(std::move(clock)) {}

  void dispatchAsyncWithBlock(std::function<void()> block) override { block(); }
  void dispatchAsyncOnMainQueue(std::function<void()> block) override { block(); }
  void dispatchSyncOnMainQueue(std::function<void()> block) override { block(); }
  void dispatchAfter(double interval, std::shared_ptr<DozidiDispatchBlock> block) override {
    std::lock_guard lock(lock_);
    pending_.push_back({clock_->dispatchTimeNow() + interval, next_++, std::move(block)});
  }
  void dispatchCancel(const std::shared_ptr<DozidiDispatchBlock>& block) override {
    if (block) block->cancel();
  }

  /// Moves the clock by `seconds`, running each delayed block that comes due at its own time.
  void advance(double seconds) {
    const double target = clock_->dispatchTimeNow() + seconds;
    for (;;) {
      Pending due;
      {
        std::lock_guard lock(lock_);
        auto earliest = std::min_element(pending_.begin(), pending_.end(), [](const Pending& a, const Pending& b) {
          return a.time < b.time || (a.time == b.time && a.order < b.order);
        });
        if (earliest == pending_.end() || earliest->time > target) break;
        due = std::move(*earliest);
        pending_.erase(earliest);
      }
      clock_->advance(due.time - clock_->dispatchTimeNow());
      due.block->perform();
    }
    clock_->advance(target - clock_->dispatchTimeNow());
  }
  /// Delayed blocks not yet run and not cancelled.
  std::size_t activeCount() {
    std::lock_guard lock(lock_);
    return static_cast<std::size_t>(
        std::count_if(pending_.begin(), pending_.end(), [](const Pending& p) { return !p.block->isCancelled(); }));
  }

 private:
  struct Pending {
    double time = 0;
    std::uint64_t order = 0;
    std::shared_ptr<DozidiDispatchBlock> block;
  };
  std::shared_ptr<TestCurrentDateProvider> clock_;
  std::mutex lock_;
  std::vector<Pending> pending_;
  std::uint64_t next_ = 0;
};

/// Returns the numbers it was given, in order, then the last one again.
class TestRandom final : public DozidiRandom {
 public:
  explicit TestRandom(std::vector<double> values) : values_(values.begin(), values.end()) {}
  static std::shared_ptr<TestRandom> returning(double value) { return std::make_shared<TestRandom>(std::vector{value}); }
  double nextNumber() override {
    std::lock_guard lock(lock_);
    ++draws_;
    if (values_.size() > 1) {
      const double value = values_.front();
      values_.pop_front();
      return value;
    }
    return values_.empty() ? 0.0 : values_.front();
  }
  int draws() {
    std::lock_guard lock(lock_);
    return draws_;
  }

 private:
  std::mutex lock_;
  std::deque<double> values_;
  int draws_ = 0;
};

/// Keeps every envelope and lost-event record the client hands over.
class RecordingTransport final : public DozidiTransport {
 public:
  void sendEnvelope(std::shared_ptr<const DozidiEnvelope> envelope) override {
    std::lock_guard lock(lock_);
    envelopes_.push_back(std::move(envelope));
  }
  void recordLostEvent(DozidiDataCategory category, DozidiDiscardReason reason) override {
    std::lock_guard lock(lock_);
    lost_.emplace_back(category, reason);
  }
  bool flush(double) override { return true; }

  std::vector<std::shared_ptr<const DozidiEnvelope>> envelopes() {
    std::lock_guard lock(lock_);
    return envelopes_;
  }
  std::vector<std::pair<DozidiDataCategory, DozidiDiscardReason>> lostEvents() {
    std::lock_guard lock(lock_);
    return lost_;
  }

 private:
  std::mutex lock_;
  std::vector<std::shared_ptr<const DozidiEnvelope>> envelopes_;
  std::vector<std::pair<DozidiDataCategory, DozidiDiscardReason>> lost_;
};

/// A display link that calls back only when the test ticks it with a frame's times.
class FakeDisplayLinkWrapper final : public DozidiDisplayLinkWrapper {
 public:
  static std::shared_ptr<FakeDisplayLinkWrapper> create() { return std::make_shared<FakeDisplayLinkWrapper>(); }
  void linkWithTarget(std::function<void()> callback) override { callback_ = std::move(callback); }
  double timestamp() const override { return timestamp_; }
  double targetTimestamp() const override { return target_; }
  void invalidate() override { callback_ = nullptr; }
  bool isLinked() const { return callback_ != nullptr; }

  /// One frame at `timestamp`, the next expected at `target` (60 per second unless given).
  void tick(double timestamp, double target = -1) {
    timestamp_ = timestamp;
    target_ = target < 0 ? timestamp + 1.0 / 60.0 : target;
    if (callback_) callback_();
  }

 private:
  std::function<void()> callback_;
  double timestamp_ = 0, target_ = 0;
};

}  // namespace performance_test
