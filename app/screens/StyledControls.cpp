#include "app/screens/StyledControls.h"

#include "app/screens/ListCell.h"
#include "app/screens/WhitelistViewController.h"

#include "app/screens/ActivityIndicatorButton.h"
#include "app/screens/FirstViewController.h"
#include "app/screens/TutorialViewController.h"
#include "platform/browser/ContentBlockerManager.h"
#include "platform/uikit/Application.h"
#include "platform/uikit/Archive.h"
#include "platform/uikit/NavigationController.h"
#include "platform/uikit/SystemSheets.h"

RUNTIME_CLASS(fendrel::NavigationController, uikit::UINavigationController, "Fendrel.NavigationController");
RUNTIME_CLASS(fendrel::RateButton, uikit::UIButton, "Fendrel.RateButton");
RUNTIME_CLASS(fendrel::RateInvertedButton, fendrel::RateButton, "Fendrel.RateInvertedButton");

namespace fendrel {

using namespace uikit;

const std::string& appName() {
  static const std::string name = localizedString("CFBundleDisplayName", "InfoPlist", "Sky Vane");
  return name;
}

const UIColor& accentColor() {
  static const UIColor color{1.0, 56.0 / 255.0, 36.0 / 255.0, 1.0};
  return color;
}

std::shared_ptr<RateButton> RateButton::createFromArchive() {
  auto button = std::shared_ptr<RateButton>(new RateButton());
  button->initFromArchive();
  return button;
}

void RateButton::initFromArchive() {
  otDoneBorderColor = false;
  layer()->setCornerRadius(7.5);
  layer()->setBorderWidth(1.0);
}

void RateButton::layoutSubviews() {
  UIButton::layoutSubviews();
  if (otDoneBorderColor) return;
  layer()->setBorderColor(tintColor());
  otDoneBorderColor = true;
}

std::shared_ptr<RateInvertedButton> RateInvertedButton::createFromArchive() {
  auto button = std::shared_ptr<RateInvertedButton>(new RateInvertedButton());
  button->otDoneInvert = false;
  button->initFromArchive();
  return button;
}

void RateInvertedButton::layoutSubviews() {
  RateButton::layoutSubviews();
  if (otDoneInvert) return;
  layer()->setBackgroundColor(tintColor());
  setTintColor(UIColor::whiteColor());
  otDoneInvert = true;
}

void IconImageView::awakeFromNib() {
  UIImageView::awakeFromNib();
  layer()->setCornerRadius(12.0);
  setClipsToBounds(true);
}

std::shared_ptr<NavigationController> NavigationController::create(std::shared_ptr<UIViewController> root) {
  auto nav = std::make_shared<NavigationController>();
  if (root) nav->setViewControllers({root}, false);
  return nav;
}

void NavigationController::viewDidLoad() {
  UINavigationController::viewDidLoad();
  auto& bar = navigationBar();
  bar->setTintColor(UIColor::whiteColor());
  if (!UIDevice::current().isAtLeast(13)) return;
  UINavigationBarAppearance appearance;
  appearance.configureWithOpaqueBackground();
  appearance.backgroundColor = accentColor();
  appearance.titleTextAttributes[NSForegroundColorAttributeName] = UIColor::whiteColor();
  bar->standardAppearance = appearance;
  bar->scrollEdgeAppearance = appearance;
  bar->compactAppearance = appearance;
  if (UIDevice::current().isAtLeast(15)) bar->compactScrollEdgeAppearance = appearance;
}

void registerScreenArchiveClasses() {
  using R = ClassRegistry;
  registerCellArchiveClasses();
  registerWhitelistArchiveClasses();
  registerTutorialArchiveClasses();
  registerFirstViewControllerArchiveClasses();
  if (R::isRegistered("RateButton")) return;
  R::registerClass("RateButton", "UIButton", [] { return RateButton::createFromArchive(); });
  R::registerClass("RateInvertedButton", "RateButton", [] { return RateInvertedButton::createFromArchive(); });
  R::registerClass("IconImageView", "UIImageView", [] { return std::make_shared<IconImageView>(); });
  R::registerClass("NavigationController", "UINavigationController",
                   [] { return std::make_shared<NavigationController>(); });

  // The activity indicator button and the attributes a storyboard may set on it.
  using B = ActivityIndicatorButton;
  R::registerClass("ActivityIndicatorButton", "UIControl", [] { return B::create(); });
  auto color = std::function<std::optional<UIColor>(const foundation::Value&)>(colorFromArchive);
  auto number = std::function<std::optional<double>(const foundation::Value&)>(numberFromArchive);
  const char* cls = "ActivityIndicatorButton";
  R::registerTyped<B, UIColor>(cls, "normalTrackColor", color, [](B& b, const UIColor& c) { b.setNormalTrackColor(c); });
  R::registerTyped<B, UIColor>(cls, "normalForegroundColor", color,
                               [](B& b, const UIColor& c) { b.setNormalForegroundColor(c); });
  R::registerTyped<B, UIColor>(cls, "hitAnimationColor", color, [](B& b, const UIColor& c) { b.hitAnimationColor = c; });
  R::registerTyped<B, UIColor>(cls, "shadowColor", color, [](B& b, const UIColor& c) { b.shadowColor = c; });
  R::registerTyped<B, double>(cls, "hitAnimationDistance", number, [](B& b, const double& d) { b.hitAnimationDistance = d; });
  R::registerTyped<B, double>(cls, "hitAnimationDuration", number, [](B& b, const double& d) { b.hitAnimationDuration = d; });
  R::registerTyped<B, double>(cls, "progressBarWidth", number, [](B& b, const double& w) { b.setProgressBarWidth(w); });
  R::registerTyped<B, double>(cls, "trackWidth", number, [](B& b, const double& w) { b.setTrackWidth(w); });
  R::registerTyped<B, double>(cls, "minimumImagePadding", number,
                              [](B& b, const double& p) { b.setMinimumImagePadding(p); });
  R::registerProperty(cls, "image", [](NSObject& o, const foundation::Value& v, const ArchiveContext& c) {
    auto* button = dynamic_cast<B*>(&o);
    auto image = imageFromArchive(v, c);
    if (!button || !image) return false;
    button->setImage(image);
    return true;
  });
}

void useBrowserExtensionState() {
  ContentBlockerState::setQuery([](const std::string& identifier, ContentBlockerState::Completion completion) {
    browser::ContentBlockerManager::getStateOfContentBlocker(identifier, std::move(completion));
  });
}

}  // namespace fendrel
