#include "dozidi-cocoa/Sources/Dozidi/AppHangs/DozidiANRTracker.h"

#include <algorithm>
#include <string>

#include "dozidi-cocoa/Sources/Dozidi/Integrations/DozidiCrashWrapper.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiCurrentDate.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiDispatchQueueWrapper.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiLog.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiSysctl.h"
#include "platform/dispatch/Thread.h"

namespace {

// Unanswered main-queue blocks before a hang is reported; the watchdog wakes this many times per
// timeout, so a hang is reported about one timeout after it began.
constexpr std::int64_t kReportThreshold = 5;

/// What the watchdog and its main-queue blocks share: the blocks not yet answered and whether the
/// current hang has been reported. Written by both threads, hence atomic.
struct HangState {
  std::atomic<std::int64_t> ticks{0};
  std::atomic<bool> reported{false};
};

}  // namespace

std::shared_ptr<DozidiANRTracker> DozidiANRTracker::create(
    double timeoutInterval, std::shared_ptr<DozidiCurrentDateProvider> currentDate,
    std::shared_ptr<DozidiCrashWrapper> crashWrapper, std::shared_ptr<DozidiDispatchQueueWrapper> dispatchQueueWrapper,
    std::shared_ptr<DozidiThreadWrapper> threadWrapper) {
  return std::shared_ptr<DozidiANRTracker>(new DozidiANRTracker(timeoutInterval, std::move(currentDate),
                                                                std::move(crashWrapper), std::move(dispatchQueueWrapper),
                                                                std::move(threadWrapper)));
}

DozidiANRTracker::DozidiANRTracker(double timeoutInterval, std::shared_ptr<DozidiCurrentDateProvider> currentDate,
                                   std::shared_ptr<DozidiCrashWrapper> crashWrapper,
                                   std::shared_ptr<DozidiDispatchQueueWrapper> dispatchQueueWrapper,
                                   std::shared_ptr<DozidiThreadWrapper> threadWrapper)
    : currentDate_(std::move(currentDate)),
      crashWrapper_(std::move(crashWrapper)),
      dispatchQueueWrapper_(std::move(dispatchQueueWrapper)),
      threadWrapper_(std::move(threadWrapper)),
      timeoutInterval_(timeoutInterval) {}

DozidiANRTracker::~DozidiANRTracker() {
  std::lock_guard guard(threadLock_);
  if (cancelToken_) cancelToken_->store(true);
}

void DozidiANRTracker::addListener(std::shared_ptr<DozidiANRTrackerDelegate> listener) {
  if (!listener) return;
  std::lock_guard guard(listenersLock_);
  if (std::find(listeners_.begin(), listeners_.end(), listener) == listeners_.end()) listeners_.push_back(listener);
  start();
}

void DozidiANRTracker::removeListener(const DozidiANRTrackerDelegate* listener) {
  std::lock_guard guard(listenersLock_);
  std::erase_if(listeners_, [&](const auto& held) { return held.get() == listener; });
  if (listeners_.empty()) stop();
}

void DozidiANRTracker::clear() {
  std::lock_guard guard(listenersLock_);
  listeners_.clear();
  stop();
}

bool DozidiANRTracker::isRunning() const {
  std::lock_guard guard(threadLock_);
  return running_;
}

void DozidiANRTracker::start() {
  std::lock_guard guard(threadLock_);
  if (running_) return;
  if (!(timeoutInterval_ > 0)) {
    // Nothing could ever be reported: every pass would wake at once and be ignored.
    DOZIDI_LOG_DEBUG("Not starting ANR detection because the timeout interval is " + std::to_string(timeoutInterval_) + ".");
    return;
  }
  cancelToken_ = std::make_shared<std::atomic<bool>>(false);
  dispatch::startThread("io.dozidi.app-hang-tracker",
                        [self = shared_from_this(), cancelled = cancelToken_] { self->detectANRs(cancelled); })
      .detach();
  running_ = true;
}

void DozidiANRTracker::stop() {
  std::lock_guard guard(threadLock_);
  DOZIDI_LOG_INFO("Stopping ANR detection");
  if (cancelToken_) cancelToken_->store(true);
  cancelToken_.reset();
  running_ = false;
}

void DozidiANRTracker::detectANRs(const std::shared_ptr<std::atomic<bool>>& cancelled) {
  auto state = std::make_shared<HangState>();
  const double sleepInterval = timeoutInterval_ / kReportThreshold;
  std::weak_ptr<DozidiANRTracker> weak = weak_from_this();
  while (!cancelled->load()) {
    const double deadline = currentDate_->date().timeIntervalSince1970() + timeoutInterval_;
    state->ticks.fetch_add(1);
    dispatchQueueWrapper_->dispatchAsyncOnMainQueue([state, weak] {
      state->ticks.store(0);
      if (state->reported.exchange(false)) {
        DOZIDI_LOG_WARN("ANR stopped.");
        if (auto self = weak.lock()) self->ANRStopped();
      }
    });
    threadWrapper_->sleepForTimeInterval(sleepInterval);
    if (cancelled->load()) break;

    const double delta = currentDate_->date().timeIntervalSince1970() - deadline;
    if (delta >= timeoutInterval_) {
      // The thread slept far longer than asked (device asleep, process suspended): the main
      // queue had no chance to answer, so this pass says nothing about a hang.
      DOZIDI_LOG_DEBUG("Ignoring ANR because the delta is too big: " + std::to_string(delta) + ".");
      continue;
    }
    if (state->ticks.load() >= kReportThreshold && !state->reported.load()) {
      // Set first: a hang that began in the background is never reported, but its end still is.
      state->reported.store(true);
      if (!crashWrapper_->isApplicationInForeground()) {
        DOZIDI_LOG_DEBUG("Ignoring ANR because the app is in the background");
        continue;
      }
      DOZIDI_LOG_WARN("ANR detected.");
      ANRDetected();
    }
  }
}

std::vector<std::shared_ptr<DozidiANRTrackerDelegate>> DozidiANRTracker::snapshot() {
  std::lock_guard guard(listenersLock_);
  return listeners_;
}

void DozidiANRTracker::ANRDetected() {
  for (const auto& listener : snapshot()) listener->anrDetected();
}

void DozidiANRTracker::ANRStopped() {
  for (const auto& listener : snapshot()) listener->anrStopped();
}
