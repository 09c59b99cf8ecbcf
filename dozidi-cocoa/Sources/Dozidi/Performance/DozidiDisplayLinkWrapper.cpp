#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiDisplayLinkWrapper.h"

#include <algorithm>
#include <atomic>
#include <cmath>

#include "platform/dispatch/Clock.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/DisplayFrames.h"

struct DozidiDisplayLinkWrapper::Link {
  std::function<void()> callback;
  std::atomic<bool> invalidated{false};
  double start = 0;
  /// The next frame on the grid that the main loop waits for; main thread only.
  long long nextFrame = 1;
  std::atomic<double> timestamp{0};
  std::atomic<double> frameInterval{kFrameDuration};
  /// Set while the frames come from a window's frame clock.
  std::uint64_t observer = 0;

  void end() {
    invalidated.store(true);
    if (observer) dispatch::DisplayFrames::removeObserver(observer);
    observer = 0;
  }
};

std::shared_ptr<DozidiDisplayLinkWrapper> DozidiDisplayLinkWrapper::create() {
  return std::shared_ptr<DozidiDisplayLinkWrapper>(new DozidiDisplayLinkWrapper());
}

DozidiDisplayLinkWrapper::~DozidiDisplayLinkWrapper() {
  if (link_) link_->end();
}

void DozidiDisplayLinkWrapper::linkWithTarget(std::function<void()> callback) {
  if (link_) link_->end();
  link_ = std::make_shared<Link>();
  link_->callback = std::move(callback);
  link_->start = dispatch::Clock::current().uptime();
  link_->timestamp.store(link_->start);
  if (dispatch::DisplayFrames::hasSource()) {
    // A window with a frame clock is on screen: its frames are the display's.
    link_->observer = dispatch::DisplayFrames::addObserver(
        [weak = std::weak_ptr<Link>(link_)](double frameTime, double frameInterval) {
          auto link = weak.lock();
          if (!link || link->invalidated.load()) return;
          link->timestamp.store(frameTime);
          link->frameInterval.store(frameInterval > 0 ? frameInterval : kFrameDuration);
          link->callback();
        });
    return;
  }
  scheduleFrame(link_);
}

void DozidiDisplayLinkWrapper::scheduleFrame(const std::shared_ptr<Link>& link) {
  const double due = link->start + static_cast<double>(link->nextFrame) * kFrameDuration;
  const double delay = std::max(0.0, due - dispatch::Clock::current().uptime());
  dispatch::DispatchQueue::main()->asyncAfter(delay, [link] {
    if (link->invalidated.load()) return;
    // The latest frame that has come by now: frames the loop was too busy for are skipped.
    const double now = dispatch::Clock::current().uptime();
    auto frame = static_cast<long long>(std::floor((now - link->start) / kFrameDuration));
    frame = std::max(frame, link->nextFrame);
    link->timestamp.store(link->start + static_cast<double>(frame) * kFrameDuration);
    link->callback();
    if (link->invalidated.load()) return;
    link->nextFrame = frame + 1;
    scheduleFrame(link);
  });
}

double DozidiDisplayLinkWrapper::timestamp() const { return link_ ? link_->timestamp.load() : 0.0; }

double DozidiDisplayLinkWrapper::targetTimestamp() const {
  return link_ ? link_->timestamp.load() + link_->frameInterval.load() : kFrameDuration;
}

void DozidiDisplayLinkWrapper::invalidate() {
  if (link_) link_->end();
  link_ = nullptr;
}
