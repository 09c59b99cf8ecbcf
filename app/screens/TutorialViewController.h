#pragma once
// The tutorial on how to switch the browser extension on: six pages of the tutorial storyboard
// in a walkthrough, the last of which opens the system settings. Main thread only.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/NotificationCenter.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/ScrollView.h"
#include "walkthrough/WalkthroughPageViewController.h"
#include "walkthrough/WalkthroughViewController.h"

namespace fendrel {

class TutorialViewController : public walkthrough::WalkthroughViewController,
                               public walkthrough::WalkthroughViewControllerDelegate {
 public:
  /// Where the tutorial was opened from, as analytics reports it.
  enum class LaunchContext { navigationButton, transientButton, onLaunch };
  static const char* rawValue(LaunchContext context);

  /// The storyboard that holds the pages "Tutorial0" to "Tutorial5".
  static constexpr const char* kPagesStoryboard = "Tutorial";

  std::string className() const override { return "TutorialViewController"; }

  std::shared_ptr<uikit::UIView> skipButtonContainerView;
  const std::shared_ptr<uikit::UIButton>& skipButton() const { return skipButton_; }
  /// Stores the button; the first call also keeps the button's title as the text of every page
  /// but the last.
  void setSkipButton(std::shared_ptr<uikit::UIButton> button);
  const std::optional<std::string>& skipButtonOriginalText() const { return skipButtonOriginalText_; }
  std::optional<uikit::UIColor> defaultTintColor;
  std::optional<LaunchContext> launchContext;
  std::int64_t pageCount = 6;
  /// Pages drawn on a dark background, under a light status bar.
  std::vector<std::int64_t> lightPages{2, 4};

  void viewDidLoad() override;
  void viewDidDisappear(bool animated) override;
  uikit::UIStatusBarStyle preferredStatusBarStyle() const override;
  void walkthroughPageDidChange(std::int64_t pageNumber) override;
  void closeTap();

 private:
  void updateSkipButton(bool lastPage);
  /// Colours the page dots for the current page's background.
  void updatePageDots();
  foundation::Value launchContextValue() const;

  std::shared_ptr<uikit::UIButton> skipButton_;
  bool savedOriginalText_ = false;
  std::optional<std::string> skipButtonOriginalText_;
  bool observingClose_ = false;
};

/// The tutorial's last page, whose button opens the system settings and closes the tutorial.
class TutorialLastPageViewController : public walkthrough::WalkthroughPageViewController {
 public:
  std::string className() const override { return "TutorialLastPageViewController"; }
  std::weak_ptr<uikit::UIScrollView> scrollView;
  std::weak_ptr<uikit::UIButton> settingsButton;
  void viewDidLoad() override;
  void settingsTap();
};

/// Registers the tutorial's classes, outlets and actions with the archive registries.
void registerTutorialArchiveClasses();

}  // namespace fendrel
