#pragma once
#include <functional>
#include <memory>

namespace uikit {

/// Calls its callback on the main queue once per display frame, on the process clock, while it is
/// added to the main run loop and not paused. Frames fall on whole multiples of the frame
/// duration after the link was added. The run loop holds an added link until it is invalidated.
class CADisplayLink : public std::enable_shared_from_this<CADisplayLink> {
 public:
  using Callback = std::function<void(CADisplayLink& link)>;
  static std::shared_ptr<CADisplayLink> create(Callback callback);

  void addToMainRunLoop();
  /// Stops for good and lets the run loop release the link.
  void invalidate();
  bool isPaused() const { return paused_; }
  void setPaused(bool paused) { paused_ = paused; }
  /// Frames per second; 0 or less means 60.
  int preferredFramesPerSecond = 60;

  /// The media time of the frame being delivered, and of the next one.
  double timestamp() const { return timestamp_; }
  double targetTimestamp() const { return timestamp_ + duration(); }
  double duration() const { return 1.0 / (preferredFramesPerSecond > 0 ? preferredFramesPerSecond : 60); }

 private:
  CADisplayLink() = default;
  void scheduleFrame();

  Callback callback_;
  bool paused_ = false;
  bool added_ = false;
  bool invalidated_ = false;
  double start_ = 0;
  double timestamp_ = 0;
  long long frame_ = 0;
};

}  // namespace uikit
