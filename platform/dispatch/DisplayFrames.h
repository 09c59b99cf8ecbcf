#pragma once
#include <cstdint>
#include <functional>

namespace dispatch {

/// Display frames from a window's frame clock, for display links that want them. A window that
/// has a frame clock registers as the source; it is told whether anyone wants frames, so that its
/// frame clock runs only while someone listens and an idle app's main thread keeps sleeping.
/// Without a source, display links keep their own time on the main run loop.
///
/// Observers and the source may be added and removed on any thread; frames are delivered, and the
/// source is told of interest, on the main thread.
class DisplayFrames {
 public:
  DisplayFrames() = delete;

  /// `frameTime` is the frame's time on the process clock, `frameInterval` the display's refresh
  /// interval in seconds.
  using Observer = std::function<void(double frameTime, double frameInterval)>;
  /// Starts delivering frames to `observer`; returns a token for removeObserver.
  static std::uint64_t addObserver(Observer observer);
  static void removeObserver(std::uint64_t token);

  /// Registers the frame source; `wanted` is called at once and whenever observers come or go.
  /// None removes the source.
  static void setSource(std::function<void(bool wanted)> wanted);
  static bool hasSource();
  /// The source's side: one frame of its frame clock.
  static void deliver(double frameTime, double frameInterval);
};

}  // namespace dispatch
