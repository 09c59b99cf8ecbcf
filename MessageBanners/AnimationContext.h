#pragma once
#include <memory>

#include "MessageBanners/SafeZoneConflicts.h"

namespace uikit { class UIView; }

namespace MessageBanners {

/// What one show or hide works on: the message view, the masking view that receives it, the
/// conflicts with the screen's edges at the time of the call, and whether the user may dismiss
/// the message by dragging. A new context is made for every call; it holds both views strongly
/// for the time of the animation.
class AnimationContext {
 public:
  AnimationContext(std::shared_ptr<uikit::UIView> messageView, std::shared_ptr<uikit::UIView> containerView,
                   SafeZoneConflicts safeZoneConflicts, bool interactiveHide)
      : messageView_(std::move(messageView)),
        containerView_(std::move(containerView)),
        safeZoneConflicts_(safeZoneConflicts),
        interactiveHide_(interactiveHide) {}

  const std::shared_ptr<uikit::UIView>& messageView() const { return messageView_; }
  const std::shared_ptr<uikit::UIView>& containerView() const { return containerView_; }
  SafeZoneConflicts safeZoneConflicts() const { return safeZoneConflicts_; }
  bool interactiveHide() const { return interactiveHide_; }

 private:
  std::shared_ptr<uikit::UIView> messageView_;
  std::shared_ptr<uikit::UIView> containerView_;
  SafeZoneConflicts safeZoneConflicts_;
  bool interactiveHide_;
};

}  // namespace MessageBanners
