#pragma once
// The app's main screen: the catalogue's filter lists with their switches and download buttons,
// the row that leads to the user's whitelist, and the promoted apps. Main thread only.

#include <memory>
#include <optional>
#include <string>

#include "app/screens/ListCell.h"
#include "app/screens/TutorialViewController.h"
#include "platform/foundation/Date.h"
#include "platform/uikit/SystemSheets.h"
#include "platform/uikit/StackView.h"
#include "platform/uikit/TableView.h"
#include "platform/uikit/ViewController.h"

namespace tovel {
class GlobalProgressBar;
}

namespace fendrel {

/// The bundle identifier of the browser extension whose state the screen checks.
inline constexpr const char* kExtensionBundleIdentifier = "com.morvit.Fendrel.Quellbox";

/// "Sep 13, 2020 at 12:26 PM": a medium date and a short time in the local time zone.
std::string formatListDate(const foundation::Date& date);

class FirstViewController : public uikit::UIViewController,
                            public uikit::UITableViewDataSource,
                            public uikit::UITableViewDelegate,
                            public ListCellDelegate,
                            public uikit::SKStoreProductViewControllerDelegate {
 public:
  enum Section : long { kListsSection = 0, kWhitelistSection = 1, kAppsSection = 2 };
  static constexpr double kEstimatedRowHeight = 76.0;

  /// What the archive calls: a screen with its tutorial and menu bar items.
  static std::shared_ptr<FirstViewController> createFromArchive();
  std::string className() const override { return "FirstViewController"; }

  std::weak_ptr<uikit::UITableView> tableView;
  std::weak_ptr<uikit::UIActivityIndicatorView> spinner;
  std::weak_ptr<uikit::UIBarButtonItem> moreBarButton;
  std::weak_ptr<uikit::UIBarButtonItem> tutorialBarButton;
  std::weak_ptr<uikit::UIStackView> logoStack;
  std::weak_ptr<uikit::UIStackView> busyStack;
  /// The striped bar under the navigation bar, made on first use.
  std::shared_ptr<tovel::GlobalProgressBar> progressBar();
  bool gotData = false;

  void viewDidLoad() override;
  void viewDidAppear(bool animated) override;

  /// A configuration was applied (`remote`: it came from the network): the table shows its rows.
  void configRefreshed(bool remote);
  void willForeground();
  void busyOn();
  void busyOff();
  /// Asks the browser whether the extension is on and warns when it is off. Nothing before the
  /// tutorial was shown, or while the screen presents another controller.
  void checkContentBlockerState();
  /// The warning that the extension is off, with a button that opens the tutorial.
  void showNotActivatedBanner();
  void tryToRateOnce();
  void showTutorial();
  void showMoreMenu();
  void rateFromMenu();
  void shareFromMenu();
  void learnMoreFromMenu();
  /// Presents the tutorial from this screen, marking it as shown.
  void presentTutorial(TutorialViewController::LaunchContext context);

  /// The newest "modifiedAt" of the catalogue's lists; none without lists.
  static std::optional<foundation::Date> newestListDate();

  long numberOfSectionsInTableView(uikit::UITableView& table) override;
  long numberOfRowsInSection(uikit::UITableView& table, long section) override;
  std::shared_ptr<uikit::UITableViewCell> cellForRowAtIndexPath(uikit::UITableView& table,
                                                                const uikit::NSIndexPath& path) override;
  std::optional<std::string> titleForHeaderInSection(uikit::UITableView& table, long section) override;
  std::optional<std::string> titleForFooterInSection(uikit::UITableView& table, long section) override;
  double heightForRowAtIndexPath(uikit::UITableView& table, const uikit::NSIndexPath& path) override;
  void didSelectRowAtIndexPath(uikit::UITableView& table, const uikit::NSIndexPath& path) override;
  void scrollViewWillBeginDragging(uikit::UIScrollView& scrollView) override;
  void productViewControllerDidFinish(uikit::SKStoreProductViewController& controller) override;

 private:
  FirstViewController() = default;
  std::shared_ptr<FirstViewController> self();
  /// What the screen does each time it appears or the app returns to the foreground.
  void cameIntoView();
  void tryToRate();
  void openApp(const uikit::NSIndexPath& path, const CloudObject& app);

  std::shared_ptr<tovel::GlobalProgressBar> progressBar_;
  std::shared_ptr<uikit::UIBarButtonItem> ownedMoreItem_;
  std::shared_ptr<uikit::UIBarButtonItem> ownedTutorialItem_;
  bool triedToRateOnce_ = false;
  bool observing_ = false;
};

/// Shows the warning banner that the browser extension is off; its "Tutorial" button runs
/// `openTutorial`. The banner is shown even when the screen that asked is gone.
void showExtensionDisabledBanner(std::function<void()> openTutorial);
/// Replaces what showExtensionDisabledBanner does (an empty one restores the default), so tests
/// can see the call.
void setExtensionDisabledBannerPresenter(std::function<void(std::function<void()> openTutorial)> presenter);

/// Hides any banner shown, animated.
void hideGlobalBanners();

/// Presents the share sheet for the app from `source`, anchored on `anchor`.
void presentAppShareSheet(uikit::UIViewController& source, const std::shared_ptr<uikit::UIBarButtonItem>& anchor);

void registerFirstViewControllerArchiveClasses();

}  // namespace fendrel
