#include "app/screens/TutorialViewController.h"

#include <algorithm>
#include <cstdlib>

#include "app/core/Singleton.h"
#include "TovelCommon/Analytics.h"
#include "platform/uikit/Application.h"
#include "platform/uikit/Archive.h"
#include "platform/uikit/Log.h"

RUNTIME_CLASS(fendrel::TutorialViewController, walkthrough::WalkthroughViewController, "Fendrel.TutorialViewController");
RUNTIME_CLASS(fendrel::TutorialLastPageViewController, walkthrough::WalkthroughPageViewController,
              "Fendrel.TutorialLastPageViewController");

namespace fendrel {

namespace {
constexpr const char* kCloseNotification = "tutorialClose";
constexpr double kSkipContainerCornerRadius = 7.5;
constexpr double kSettingsButtonCornerRadius = 10.0;

/// A page or outlet the tutorial cannot work without: the interface files are broken.
[[noreturn]] void missingResource(const std::string& what) {
  uikit::UIKitLog::write("the tutorial's interface files lack " + what);
  std::abort();
}
}  // namespace

const char* TutorialViewController::rawValue(LaunchContext context) {
  switch (context) {
    case LaunchContext::navigationButton: return "navigationButton";
    case LaunchContext::transientButton: return "transientButton";
    case LaunchContext::onLaunch: return "onLaunch";
  }
  return "";
}

foundation::Value TutorialViewController::launchContextValue() const {
  return launchContext ? foundation::Value(rawValue(*launchContext)) : foundation::Value();
}

void TutorialViewController::setSkipButton(std::shared_ptr<uikit::UIButton> button) {
  skipButton_ = std::move(button);
  if (savedOriginalText_ || !skipButton_) return;
  savedOriginalText_ = true;
  skipButtonOriginalText_ = skipButton_->titleLabel()->text();
}

void TutorialViewController::viewDidLoad() {
  WalkthroughViewController::viewDidLoad();
  auto board = uikit::UIStoryboard::storyboardWithName(kPagesStoryboard);
  if (!board) missingResource(std::string("the storyboard ") + kPagesStoryboard);
  for (std::int64_t i = 0; i < pageCount; ++i) {
    const std::string identifier = "Tutorial" + std::to_string(i);
    auto page = (*board)->instantiateViewControllerWithIdentifier(identifier);
    if (!page) missingResource("the page " + identifier);
    add(*page);
  }
  Singleton::shared().analytics()->log("tutorialOpened", {{"launchContext", launchContextValue()}});

  auto self = std::static_pointer_cast<TutorialViewController>(shared_from_this());
  delegate = self;
  if (!skipButton_ || !skipButtonContainerView) missingResource("the skip button or its container");
  defaultTintColor = skipButton_->tintColor();
  skipButtonContainerView->layer()->setCornerRadius(kSkipContainerCornerRadius);
  if (!observingClose_) {
    observingClose_ = true;
    foundation::NotificationCenter::defaultCenter().addObserver(
        std::weak_ptr<TutorialViewController>(self), kCloseNotification,
        [](TutorialViewController& tutorial, const foundation::Notification&) { tutorial.closeTap(); });
  }
  skipButton_->addTarget<TutorialViewController>(self, "closeTap:", uikit::UIControlEventTouchUpInside,
                                                 [](TutorialViewController& t, uikit::UIControl&) { t.closeTap(); });
  if (uikit::UIDevice::current().isAtLeast(13)) {
    // The sheet presentation already shows where to swipe the tutorial away; the button is only
    // shown on the last page, as a plain "Done".
    skipButtonContainerView->setHidden(true);
    // Without its coloured container the button's title would be white on the white last page:
    // it takes the container's colour instead.
    if (auto background = skipButtonContainerView->backgroundColor()) skipButton_->setTintColor(*background);
    skipButtonContainerView->setBackgroundColor(uikit::UIColor::clearColor());
    skipButton_->setBackgroundColor(uikit::UIColor::clearColor());
    skipButton_->setTitle("Done", uikit::UIControlStateNormal);
  }
  updatePageDots();
}

void TutorialViewController::closeTap() {
  // A close reaches only the tutorial on screen; one already gone has nothing to dismiss.
  if (presentingViewController()) dismissViewControllerAnimated(true);
}

void TutorialViewController::walkthroughPageDidChange(std::int64_t) {
  setNeedsStatusBarAppearanceUpdate();
  auto last = std::dynamic_pointer_cast<TutorialLastPageViewController>(currentViewController());
  if (last) {
    if (auto scroll = last->scrollView.lock()) scroll->flashScrollIndicators();
  }
  updateSkipButton(last != nullptr);
  updatePageDots();
}

void TutorialViewController::updatePageDots() {
  if (!pageControl) return;
  // Dark pages get light dots, light pages dark ones, so the current page always shows.
  const auto page = currentPage();
  const bool light = std::find(lightPages.begin(), lightPages.end(), page) != lightPages.end();
  pageControl->currentPageIndicatorTintColor = light ? uikit::UIColor::whiteColor() : uikit::UIColor::white(0.11);
  pageControl->pageIndicatorTintColor = light ? uikit::UIColor::white(1, 0.45) : uikit::UIColor::white(0.11, 0.25);
}

void TutorialViewController::updateSkipButton(bool lastPage) {
  if (uikit::UIDevice::current().isAtLeast(13)) {
    if (skipButtonContainerView) skipButtonContainerView->setHidden(!lastPage);
    return;
  }
  if (!skipButton_) return;
  if (lastPage) {
    skipButton_->setTitle("Done", uikit::UIControlStateNormal);
  } else {
    skipButton_->setTitle(skipButtonOriginalText_.value_or(""), uikit::UIControlStateNormal);
  }
}

uikit::UIStatusBarStyle TutorialViewController::preferredStatusBarStyle() const {
  auto page = const_cast<TutorialViewController*>(this)->currentPage();
  const bool light = std::find(lightPages.begin(), lightPages.end(), page) != lightPages.end();
  return light ? uikit::UIStatusBarStyle::LightContent : uikit::UIStatusBarStyle::Default;
}

void TutorialViewController::viewDidDisappear(bool animated) {
  WalkthroughViewController::viewDidDisappear(animated);
  Singleton::shared().analytics()->log("tutorialClosed",
                                       {{"launchContext", launchContextValue()}, {"onPage", currentPage()}});
}

void TutorialLastPageViewController::viewDidLoad() {
  WalkthroughPageViewController::viewDidLoad();
  auto button = settingsButton.lock();
  if (!button) return;
  button->layer()->setCornerRadius(kSettingsButtonCornerRadius);
  button->addTarget<TutorialLastPageViewController>(
      std::static_pointer_cast<TutorialLastPageViewController>(shared_from_this()), "settingsTap:",
      uikit::UIControlEventTouchUpInside, [](TutorialLastPageViewController& page, uikit::UIControl&) {
        page.settingsTap();
      });
}

void TutorialLastPageViewController::settingsTap() {
  uikit::UIApplication::shared().openURL(Singleton::shared().settingsUrl().absoluteString(), {});
  foundation::NotificationCenter::defaultCenter().post(kCloseNotification);
}

void registerTutorialArchiveClasses() {
  using R = uikit::ClassRegistry;
  using T = TutorialViewController;
  using L = TutorialLastPageViewController;
  walkthrough::registerWalkthroughClasses();
  if (R::isRegistered("TutorialViewController")) return;
  R::registerClass("TutorialViewController", "WalkthroughViewController", [] { return std::make_shared<T>(); });
  R::registerOutlet<T, uikit::UIView>("TutorialViewController", "skipButtonContainerView",
                                      [](T& t, std::shared_ptr<uikit::UIView> v) { t.skipButtonContainerView = v; });
  R::registerOutlet<T, uikit::UIButton>("TutorialViewController", "skipButton",
                                        [](T& t, std::shared_ptr<uikit::UIButton> b) { t.setSkipButton(b); });
  R::registerClass("TutorialLastPageViewController", "WalkthroughPageViewController",
                   [] { return std::make_shared<L>(); });
  R::registerOutlet<L, uikit::UIScrollView>("TutorialLastPageViewController", "scrollView",
                                            [](L& l, std::shared_ptr<uikit::UIScrollView> s) { l.scrollView = s; });
  R::registerOutlet<L, uikit::UIButton>("TutorialLastPageViewController", "settingsButton",
                                        [](L& l, std::shared_ptr<uikit::UIButton> b) { l.settingsButton = b; });
}

}  // namespace fendrel
