#pragma once
#include <memory>
#include <utility>

#include "platform/uikit/View.h"

namespace uikit {

/// Declarative content: a value type whose `makeView()` builds the view tree that shows it.
template <class Content>
concept DeclarativeView = requires(const Content& content) {
  { content.makeView() } -> std::convertible_to<std::shared_ptr<UIView>>;
};

/// Hosts declarative content in the view tree (the platform's hosting controller): it owns the
/// content value and, once loaded, the view built from it. Main thread only.
template <DeclarativeView Content>
class UIHostingController {
 public:
  explicit UIHostingController(Content rootView) : rootView_(std::move(rootView)) {}

  const Content& rootView() const { return rootView_; }
  bool isViewLoaded() const { return view_ != nullptr; }
  /// Builds the view from the content when that has not happened yet.
  void loadViewIfNeeded() {
    if (!view_) view_ = rootView_.makeView();
  }
  /// The hosted view, built on first use.
  const std::shared_ptr<UIView>& view() {
    loadViewIfNeeded();
    return view_;
  }

 private:
  Content rootView_;
  std::shared_ptr<UIView> view_;
};

}  // namespace uikit
