#pragma once
#include <memory>
#include <optional>
#include <vector>

#include "platform/uikit/MediaTimingFunction.h"
#include "platform/uikit/detail/AnimationTracker.h"

namespace uikit::detail {

/// One open view-animation block: how the changes made inside it are animated.
struct ViewAnimationContext {
  double duration = 0.2;
  double delay = 0;
  unsigned options = 0;
  CAMediaTimingFunction timing{CAMediaTimingFunction::Name::EaseInEaseOut};
  bool spring = false;
  double dampingRatio = 1;
  double velocity = 0;
  bool beginFromCurrentState = false;
  /// Inside performWithoutAnimation: changes record nothing.
  bool suppressed = false;
  std::shared_ptr<AnimationTracker> tracker;
};

/// The blocks open on this thread, innermost last.
std::vector<ViewAnimationContext>& viewAnimationStack();

}  // namespace uikit::detail
