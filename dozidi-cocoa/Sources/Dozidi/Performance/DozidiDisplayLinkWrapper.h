#pragma once
#include <functional>
#include <memory>

/// The frame tracker's display link: calls its callback on the main thread once per display
/// frame, with the frame's time and the next frame's time in seconds on the process clock. While
/// a window with a frame clock is on screen its frames drive the link; otherwise a 60 Hz timer on
/// the main run loop does. The timer's frame times lie on a fixed grid; a main loop that was busy
/// past a frame gets one callback for the latest frame it missed, so the gap shows as a long
/// frame, as it does on a real display. Tests replace it with a wrapper they tick by hand.
class DozidiDisplayLinkWrapper {
 public:
  static std::shared_ptr<DozidiDisplayLinkWrapper> create();
  virtual ~DozidiDisplayLinkWrapper();

  /// Makes a new display link that calls `callback` and adds it to the main run loop.
  virtual void linkWithTarget(std::function<void()> callback);
  static constexpr double kFrameDuration = 1.0 / 60.0;

  virtual double timestamp() const;
  virtual double targetTimestamp() const;
  /// Stops the display link for good; the main loop has no frames to wait for afterwards.
  virtual void invalidate();

 protected:
  DozidiDisplayLinkWrapper() = default;

 private:
  struct Link;
  static void scheduleFrame(const std::shared_ptr<Link>& link);
  std::shared_ptr<Link> link_;
};
