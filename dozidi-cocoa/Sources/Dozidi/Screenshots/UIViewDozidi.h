#pragma once
#include <memory>
#include <string>
#include <vector>

namespace uikit {
class UIView;
class UIViewController;
}  // namespace uikit

/// The view's tree as text: one line per view, depth-first in subview order, each line its depth
/// times "   | " followed by the view's description. The view itself is depth 0.
std::string dozidi_recursiveViewHierarchyDescription(const uikit::UIView& view);
/// Appends the view's line at `level` and then its subviews' lines, one level deeper, to `into`.
void dozidi_recursiveViewHierarchyDescriptionWithLevel(const uikit::UIView& view, int level, std::string& into);

/// The controller itself first, then every controller below it through its children, taken from a
/// stack: the last pending controller comes next and its children are pushed, so the order is
/// depth-first, last child first.
std::vector<std::shared_ptr<uikit::UIViewController>> dozidi_descendantViewControllers(
    const std::shared_ptr<uikit::UIViewController>& controller);
