#pragma once
#include <memory>
#include <string>

#include "platform/uikit/Button.h"
#include "platform/uikit/NavigationController.h"
#include "platform/uikit/ViewController.h"

namespace fendrel {

/// The app's display name: "CFBundleDisplayName" of the main bundle's "InfoPlist" strings, else
/// "Sky Vane". Read once.
const std::string& appName();
/// The app's accent colour (255, 56, 36).
const uikit::UIColor& accentColor();

/// The rounded, outlined button of the storyboards. Made only from archives (there is no
/// frame-based way to make one).
class RateButton : public uikit::UIButton {
 public:
  /// What an archive calls: rounded corners (7.5) and a 1-point border.
  static std::shared_ptr<RateButton> createFromArchive();
  std::string className() const override { return "RateButton"; }
  /// The first layout takes the tint colour as the border colour, once.
  void layoutSubviews() override;
  bool otDoneBorderColor = false;

 protected:
  RateButton() = default;
  void initFromArchive();
};

/// The filled variant: the first layout fills it with the tint colour and turns its tint white.
class RateInvertedButton : public RateButton {
 public:
  static std::shared_ptr<RateInvertedButton> createFromArchive();
  std::string className() const override { return "RateInvertedButton"; }
  void layoutSubviews() override;
  bool otDoneInvert = false;

 protected:
  RateInvertedButton() = default;
};

/// An image view with rounded corners (12) once it wakes from an archive.
class IconImageView : public uikit::UIImageView {
 public:
  std::string className() const override { return "IconImageView"; }
  void awakeFromNib() override;
};

/// The navigation controller of every screen: white bar items on an opaque accent-coloured bar
/// and a light status bar.
class NavigationController : public uikit::UINavigationController {
 public:
  static std::shared_ptr<NavigationController> create(std::shared_ptr<uikit::UIViewController> root = nullptr);
  std::string className() const override { return "NavigationController"; }
  void viewDidLoad() override;
  uikit::UIStatusBarStyle preferredStatusBarStyle() const override { return uikit::UIStatusBarStyle::LightContent; }
};

/// Registers the screens' classes and the attributes their archives set.
void registerScreenArchiveClasses();

/// Makes the extension-state query ask the browser stand-in.
void useBrowserExtensionState();

}  // namespace fendrel
