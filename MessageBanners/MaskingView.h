#pragma once
#include <cstddef>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "MessageBanners/PassthroughView.h"

namespace MessageBanners {

class KeyboardTrackingView;

/// The answer of indexOfAccessibilityElement for an element that is not in the list.
inline constexpr std::size_t NSNotFound = static_cast<std::size_t>(std::numeric_limits<std::ptrdiff_t>::max());

/// The container the presenter puts one message view into: it clips to its bounds, shows
/// assistive technologies a fixed list of elements, and, once a keyboard tracking view is
/// installed along its bottom, keeps every message view it receives above the keyboard.
/// Its empty area lets touches through unless a tap handler is set. Main thread only.
class MaskingView : public PassthroughView {
 public:
  /// A zero-sized container that clips to its bounds.
  static std::shared_ptr<MaskingView> create();
  std::string className() const override { return "MessageBanners.MaskingView"; }

  /// The elements assistive technologies see inside the container, in order.
  std::vector<std::shared_ptr<uikit::UIView>> accessibleElements;
  /// The container's own dimming background (such as a blur view); held weakly.
  std::shared_ptr<uikit::UIView> backgroundView() const { return backgroundView_.lock(); }
  void setBackgroundView(const std::shared_ptr<uikit::UIView>& view) { backgroundView_ = view; }
  const std::shared_ptr<KeyboardTrackingView>& keyboardTrackingView() const { return keyboardTrackingView_; }

  /// Puts `trackingView` along the bottom edge, full width; views added afterwards stay above it.
  virtual void installKeyboardTracking(const std::shared_ptr<KeyboardTrackingView>& trackingView);

  /// A view added while a tracking view is installed (other than the tracking view and the
  /// dimming background) gets, at priority 250, tracking top >= its bottom - c, where c is its
  /// bounce offset when it adjusts its margins and 0 otherwise.
  void didAddSubview(uikit::UIView* view) override;

  std::size_t accessibilityElementCount() const { return accessibleElements.size(); }
  /// The element at `index`, or null when the index lies outside the list.
  std::shared_ptr<uikit::UIView> accessibilityElementAtIndex(std::size_t index) const;
  /// The position of the first element that is `element`, or NSNotFound when it is absent.
  std::size_t indexOfAccessibilityElement(const uikit::UIView* element) const;

 protected:
  MaskingView() = default;

 private:
  std::weak_ptr<uikit::UIView> backgroundView_;
  std::shared_ptr<KeyboardTrackingView> keyboardTrackingView_;
};

}  // namespace MessageBanners
