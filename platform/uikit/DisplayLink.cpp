#include "platform/uikit/DisplayLink.h"

#include <cmath>

#include "platform/dispatch/DispatchQueue.h"
#include "platform/uikit/Animation.h"

namespace uikit {

std::shared_ptr<CADisplayLink> CADisplayLink::create(Callback callback) {
  auto link = std::shared_ptr<CADisplayLink>(new CADisplayLink());
  link->callback_ = std::move(callback);
  return link;
}

void CADisplayLink::addToMainRunLoop() {
  if (added_ || invalidated_) return;
  added_ = true;
  start_ = CACurrentMediaTime();
  frame_ = 0;
  scheduleFrame();
}

void CADisplayLink::invalidate() {
  invalidated_ = true;
  callback_ = nullptr;
}

void CADisplayLink::scheduleFrame() {
  ++frame_;
  // Frame times are computed from the start, so rounding never drifts the frame grid.
  double due = start_ + static_cast<double>(frame_) * duration();
  double now = CACurrentMediaTime();
  dispatch::DispatchQueue::main()->asyncAfter(std::max(0.0, due - now), [self = shared_from_this(), due] {
    if (self->invalidated_) return;
    self->timestamp_ = due;
    if (!self->paused_ && self->callback_) {
      auto callback = self->callback_;
      callback(*self);
    }
    if (!self->invalidated_) self->scheduleFrame();
  });
}

}  // namespace uikit
