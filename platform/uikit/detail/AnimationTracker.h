#pragma once
#include <functional>
#include <memory>
#include <vector>

namespace uikit::detail {

/// Counts the animations that one transaction or one view-animation block started and reports
/// once, when the block is closed and every one of them has ended or been removed.
class AnimationTracker : public std::enable_shared_from_this<AnimationTracker> {
 public:
  explicit AnimationTracker(std::function<void(bool allFinished)> onDone) : onDone_(std::move(onDone)) {}

  void animationAdded() { ++pending_; }
  /// One of the counted animations ended (`finished`) or was removed. Main queue.
  void animationStopped(bool finished);
  /// No more animations join. With none pending, the report comes on the next main-queue turn.
  void close();
  bool isClosed() const { return closed_; }

 private:
  void report();
  std::function<void(bool)> onDone_;
  int pending_ = 0;
  bool closed_ = false;
  bool allFinished_ = true;
  bool reported_ = false;
};

}  // namespace uikit::detail

namespace uikit::detail {

/// Trackers of the view-animation blocks now running on this thread, innermost last.
std::vector<std::shared_ptr<AnimationTracker>>& blockTrackerStack();

}  // namespace uikit::detail
