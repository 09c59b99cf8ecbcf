#include "platform/uikit/detail/AnimationTracker.h"

#include "platform/dispatch/DispatchQueue.h"

namespace uikit::detail {

void AnimationTracker::animationStopped(bool finished) {
  if (!finished) allFinished_ = false;
  if (pending_ > 0) --pending_;
  if (pending_ == 0 && closed_) report();
}

void AnimationTracker::close() {
  if (closed_) return;
  closed_ = true;
  if (pending_ == 0) {
    dispatch::DispatchQueue::main()->async([self = shared_from_this()] { self->report(); });
  }
}

void AnimationTracker::report() {
  if (reported_) return;
  reported_ = true;
  if (onDone_) {
    auto done = std::move(onDone_);
    done(allFinished_);
  }
}

}  // namespace uikit::detail

namespace uikit::detail {

std::vector<std::shared_ptr<AnimationTracker>>& blockTrackerStack() {
  thread_local std::vector<std::shared_ptr<AnimationTracker>> stack;
  return stack;
}

}  // namespace uikit::detail
