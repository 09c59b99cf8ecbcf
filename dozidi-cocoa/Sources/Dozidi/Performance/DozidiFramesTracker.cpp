#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiFramesTracker.h"

#include <cmath>

#include "dozidi-cocoa/Sources/Dozidi/Hub/PrivateDozidiSDKOnly.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiDisplayLinkWrapper.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiProfiler.h"

using foundation::Dictionary;

namespace {

/// The display link's frame rate: 60 when it gives no frame duration, and 60 as well for a rate
/// that cannot be a display's (at most 1 per second, over 1000, or not a number), whose slow-frame
/// threshold would be negative, infinite or meaningless.
double frameRateOf(double timestamp, double targetTimestamp) {
  if (targetTimestamp == timestamp) return DozidiFramesTracker::kDefaultFrameRate;
  const double rate = 1.0 / (targetTimestamp - timestamp);
  if (!(rate > 1.0 && rate <= 1000.0)) return DozidiFramesTracker::kDefaultFrameRate;
  return rate;
}

}  // namespace

DozidiFramesTracker::DozidiFramesTracker(std::shared_ptr<DozidiDisplayLinkWrapper> wrapper)
    : displayLinkWrapper_(std::move(wrapper)) {}

std::shared_ptr<DozidiFramesTracker> DozidiFramesTracker::sharedInstance() {
  static const std::shared_ptr<DozidiFramesTracker> instance =
      initWithDisplayLinkWrapper(DozidiDisplayLinkWrapper::create());
  return instance;
}

std::shared_ptr<DozidiFramesTracker> DozidiFramesTracker::initWithDisplayLinkWrapper(
    std::shared_ptr<DozidiDisplayLinkWrapper> wrapper) {
  auto tracker = std::shared_ptr<DozidiFramesTracker>(new DozidiFramesTracker(std::move(wrapper)));
  tracker->resetFrames();
  return tracker;
}

void DozidiFramesTracker::start() {
  running_.store(true, std::memory_order_release);
  // The tracker lives for the process (or the test), so the link may call it by a plain pointer.
  displayLinkWrapper_->linkWithTarget([this] { displayLinkCallback(); });
}

void DozidiFramesTracker::stop() {
  running_.store(false, std::memory_order_release);
  displayLinkWrapper_->invalidate();
}

void DozidiFramesTracker::resetFrames() {
  totalFrames_.store(0, std::memory_order_relaxed);
  slowFrames_.store(0, std::memory_order_relaxed);
  frozenFrames_.store(0, std::memory_order_relaxed);
  previousFrameTimestamp_.store(-1.0, std::memory_order_relaxed);
  resetProfilingTimestamps();
}

void DozidiFramesTracker::resetProfilingTimestamps() {
  std::lock_guard lock(profilingLock_);
  frameTimestamps_ = {};
  frameRateTimestamps_ = {};
}

DozidiScreenFrames DozidiFramesTracker::currentFrames() const {
  DozidiScreenFrames frames;
  frames.total = totalFrames_.load(std::memory_order_relaxed);
  frames.slow = slowFrames_.load(std::memory_order_relaxed);
  frames.frozen = frozenFrames_.load(std::memory_order_relaxed);
  std::lock_guard lock(profilingLock_);
  frames.frameTimestamps = frameTimestamps_;
  frames.frameRateTimestamps = frameRateTimestamps_;
  return frames;
}

void DozidiFramesTracker::recordTimestampStart(double start, double end) {
  if (!DozidiProfiler::isRunning()) return;
  std::lock_guard lock(profilingLock_);
  frameTimestamps_.push_back(Dictionary{{"start_timestamp", start}, {"end_timestamp", end}});
}

void DozidiFramesTracker::displayLinkCallback() {
  const double now = displayLinkWrapper_->timestamp();
  const double previous = previousFrameTimestamp_.load(std::memory_order_relaxed);
  if (previous == -1.0) {
    previousFrameTimestamp_.store(now, std::memory_order_relaxed);
    return;
  }
  const double frameRate = frameRateOf(now, displayLinkWrapper_->targetTimestamp());

  if (DozidiProfiler::isRunning()) {
    std::lock_guard lock(profilingLock_);
    bool changed = frameRateTimestamps_.empty();
    if (!changed) {
      const auto last = frameRateTimestamps_[frameRateTimestamps_.size() - 1]["frame_rate"].asDouble();
      changed = !last || std::fabs(*last - frameRate) > kFrameRateTolerance;
    }
    if (changed) frameRateTimestamps_.push_back(Dictionary{{"timestamp", now}, {"frame_rate", frameRate}});
  }

  const double slowThreshold = 1.0 / (frameRate - 1.0);
  const double duration = now - previous;
  if (duration > kFrozenFrameThreshold) {
    frozenFrames_.fetch_add(1, std::memory_order_relaxed);
    recordTimestampStart(previous, now);
  } else if (duration > slowThreshold) {
    slowFrames_.fetch_add(1, std::memory_order_relaxed);
    recordTimestampStart(previous, now);
  }
  totalFrames_.fetch_add(1, std::memory_order_relaxed);
  previousFrameTimestamp_.store(now, std::memory_order_relaxed);
}

bool DozidiFramesTrackingIntegration::installWithOptions(const DozidiOptions& options) {
  if (!PrivateDozidiSDKOnly::framesTrackingMeasurementHybridSDKMode() && !shouldBeEnabledWithOptions(options)) {
    return false;
  }
  tracker_ = DozidiFramesTracker::sharedInstance();
  tracker_->start();
  return true;
}

void DozidiFramesTrackingIntegration::stop() {
  if (tracker_) tracker_->stop();
}
