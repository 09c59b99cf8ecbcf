#include "platform/uikit/Archive.h"

#include <mutex>

#include "walkthrough/WalkthroughPageViewController.h"
#include "walkthrough/WalkthroughViewController.h"

namespace walkthrough {

namespace {

/// A point archived as [x, y].
std::optional<uikit::CGPoint> pointFromArchive(const foundation::Value& value) {
  const auto* a = value.array();
  if (!a || a->size() != 2) return std::nullopt;
  auto x = (*a)[0].asDouble(), y = (*a)[1].asDouble();
  if (!x || !y) return std::nullopt;
  return uikit::CGPoint{*x, *y};
}

}  // namespace

void registerWalkthroughClasses() {
  static std::once_flag once;
  std::call_once(once, [] {
    using R = uikit::ClassRegistry;
    using Container = WalkthroughViewController;
    using Page = WalkthroughPageViewController;
    R::registerClass("WalkthroughViewController", "UIViewController", [] { return std::make_shared<Container>(); });
    R::registerOutlet<Container, uikit::UIPageControl>(
        "WalkthroughViewController", "pageControl",
        [](Container& c, std::shared_ptr<uikit::UIPageControl> p) { c.pageControl = std::move(p); });
    R::registerOutlet<Container, uikit::UIButton>(
        "WalkthroughViewController", "nextButton",
        [](Container& c, std::shared_ptr<uikit::UIButton> b) { c.nextButton = std::move(b); });
    R::registerOutlet<Container, uikit::UIButton>(
        "WalkthroughViewController", "prevButton",
        [](Container& c, std::shared_ptr<uikit::UIButton> b) { c.prevButton = std::move(b); });
    R::registerOutlet<Container, uikit::UIButton>(
        "WalkthroughViewController", "closeButton",
        [](Container& c, std::shared_ptr<uikit::UIButton> b) { c.closeButton = std::move(b); });

    R::registerClass("WalkthroughPageViewController", "UIViewController", [] { return std::make_shared<Page>(); });
    std::function<std::optional<uikit::CGPoint>(const foundation::Value&)> point = pointFromArchive;
    std::function<std::optional<bool>(const foundation::Value&)> flag = uikit::boolFromArchive;
    std::function<std::optional<std::string>(const foundation::Value&)> text = uikit::stringFromArchive;
    R::registerTyped<Page, uikit::CGPoint>("WalkthroughPageViewController", "speed", point,
                                           [](Page& p, const uikit::CGPoint& v) { p.speed = v; });
    R::registerTyped<Page, uikit::CGPoint>("WalkthroughPageViewController", "speedVariance", point,
                                           [](Page& p, const uikit::CGPoint& v) { p.speedVariance = v; });
    R::registerTyped<Page, bool>("WalkthroughPageViewController", "animateAlpha", flag,
                                 [](Page& p, const bool& v) { p.animateAlpha = v; });
    R::registerTyped<Page, std::string>("WalkthroughPageViewController", "animationType", text,
                                        [](Page& p, const std::string& v) { p.setAnimationType(v); });
    R::registerTyped<Page, std::string>("WalkthroughPageViewController", "staticTags", text,
                                        [](Page& p, const std::string& v) { p.setStaticTags(v); });
  });
}

}  // namespace walkthrough
