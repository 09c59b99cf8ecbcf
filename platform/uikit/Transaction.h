#pragma once
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/uikit/MediaTimingFunction.h"

namespace uikit {
namespace detail { class AnimationTracker; }

/// Groups layer changes. The completion block runs on the main queue once every animation added
/// while the transaction was open has ended or was removed; a transaction that added none
/// completes on the next main-queue turn after its commit. Main thread only.
class CATransaction {
 public:
  static void begin();
  /// Closes the innermost transaction (nothing happens without an open one).
  static void commit();
  static void setCompletionBlock(std::function<void()> block);
  /// Layers of this toolkit have no implicit actions, so this is recorded for callers that read it.
  static void setDisableActions(bool disable);
  static bool disableActions();
  static void setAnimationDuration(double seconds);
  static double animationDuration();
  static void setAnimationTimingFunction(std::optional<CAMediaTimingFunction> function);
  static std::optional<CAMediaTimingFunction> animationTimingFunction();

  /// The trackers of every open transaction, innermost last (animations join all of them).
  static std::vector<std::shared_ptr<detail::AnimationTracker>> openTrackers();
};

}  // namespace uikit
