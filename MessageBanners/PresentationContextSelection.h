#pragma once
#include <memory>

#include "MessageBanners/Config.h"
#include "platform/uikit/Geometry.h"

namespace uikit {
class UIView;
class UIViewController;
class UIWindow;
}  // namespace uikit

namespace MessageBanners {

/// The edge a message of this configuration slides in from: top or bottom, or none (centre and
/// animators without an edge).
enum class MessageEdge { None, Top, Bottom };
MessageEdge messageEdge(const Config& config);

/// From `controller` (the key window's root), the top-most presented controller's navigation
/// controller with a visible bar (top messages) or tab bar controller with a visible tab bar
/// (bottom messages); else a new message window's controller.
std::shared_ptr<uikit::UIViewController> mb_selectPresentationContextTopDown(
    const std::shared_ptr<uikit::UIViewController>& controller, const Config& config);
/// From `controller` upwards: an enclosing navigation or tab bar controller whose bar the
/// message can tuck under, else the controller itself; a table view controller without parent
/// gives a new message window's controller.
std::shared_ptr<uikit::UIViewController> mb_selectPresentationContextBottomUp(
    const std::shared_ptr<uikit::UIViewController>& controller, const Config& config);
/// Whether `bar` shows inside the controller's view: not hidden, not transparent, and within
/// its bounds.
bool mb_isVisible(uikit::UIViewController& controller, const uikit::UIView& bar);
/// The key window of the most active scene that has one (the application's key window before
/// scenes existed).
std::shared_ptr<uikit::UIWindow> mb_keyWindow();

// Insets add and subtract field by field with the toolkit's own operators.

}  // namespace MessageBanners
