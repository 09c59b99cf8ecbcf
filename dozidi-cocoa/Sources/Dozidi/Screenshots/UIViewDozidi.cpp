#include "dozidi-cocoa/Sources/Dozidi/Screenshots/UIViewDozidi.h"

#include "platform/uikit/View.h"
#include "platform/uikit/ViewController.h"

namespace {

constexpr const char* kLevelIndent = "   | ";

}  // namespace

std::string dozidi_recursiveViewHierarchyDescription(const uikit::UIView& view) {
  std::string description;
  dozidi_recursiveViewHierarchyDescriptionWithLevel(view, 0, description);
  return description;
}

void dozidi_recursiveViewHierarchyDescriptionWithLevel(const uikit::UIView& view, int level, std::string& into) {
  for (int i = 0; i < level; ++i) into += kLevelIndent;
  into += view.description();
  into += '\n';
  for (const auto& subview : view.subviews()) {
    if (subview) dozidi_recursiveViewHierarchyDescriptionWithLevel(*subview, level + 1, into);
  }
}

std::vector<std::shared_ptr<uikit::UIViewController>> dozidi_descendantViewControllers(
    const std::shared_ptr<uikit::UIViewController>& controller) {
  std::vector<std::shared_ptr<uikit::UIViewController>> result;
  if (!controller) return result;
  std::vector<std::shared_ptr<uikit::UIViewController>> pending{controller};
  while (!pending.empty()) {
    auto next = std::move(pending.back());
    pending.pop_back();
    for (const auto& child : next->childViewControllers()) pending.push_back(child);
    result.push_back(std::move(next));
  }
  return result;
}
