#include "app/screens/FirstViewController.h"

#include <cstdlib>
#include <ctime>
#include <mutex>

#include "MessageBanners/MessageBanners.h"
#include "TovelCommon/GlobalProgressBar.h"
#include "app/core/SharedAux.h"
#include "app/core/Singleton.h"
#include "app/screens/CatalogueIcon.h"
#include "app/screens/GlobalBanner.h"
#include "app/screens/StyledControls.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/uikit/Accessibility.h"
#include "platform/uikit/Application.h"
#include "platform/uikit/Archive.h"
#include "platform/uikit/Log.h"

// A runtime class of the app's own image: traced as the app's, and named "Fendrel.FirstViewController".
RUNTIME_CLASS(fendrel::FirstViewController, uikit::UIViewController, "Fendrel.FirstViewController");

namespace fendrel {

using uikit::NSIndexPath;

namespace {

constexpr const char* kTutorialShownKey = "tutorialShown";
constexpr const char* kTriedToRateEverKey = "triedToRateEver";
constexpr const char* kWhitelistSegue = "WhitelistCell";

/// An outlet the screen cannot work without: the storyboard is broken.
template <class T>
std::shared_ptr<T> required(const std::weak_ptr<T>& outlet, const char* name) {
  auto strong = outlet.lock();
  if (!strong) {
    uikit::UIKitLog::write(std::string("the main screen's storyboard lacks the outlet ") + name);
    std::abort();
  }
  return strong;
}

void log(const char* event, tovel::AnalyticsParameters params = {}) {
  Singleton::shared().analytics()->log(event, params, tovel::Once::No);
}

std::shared_ptr<TutorialViewController> makeTutorial() {
  auto board = uikit::UIStoryboard::storyboardWithName("Main");
  if (!board) {
    uikit::UIKitLog::write("cannot load the tutorial: " + board.error().localizedDescription());
    return nullptr;
  }
  auto made = (*board)->instantiateViewControllerWithIdentifier("TutorialViewController");
  auto tutorial = made ? std::dynamic_pointer_cast<TutorialViewController>(*made) : nullptr;
  if (!tutorial) uikit::UIKitLog::write("cannot load the tutorial: the storyboard Main has no TutorialViewController");
  return tutorial;
}

/// A remote address the app may open: a URL with a scheme and something after it.
std::optional<foundation::URL> openableURL(const std::string& text) {
  auto url = foundation::URL::parse(text);
  if (!url || url->scheme().empty()) return std::nullopt;
  return url;
}

std::mutex presenterMutex;
std::function<void(std::function<void()>)> bannerPresenter;

}  // namespace

std::string formatListDate(const foundation::Date& date) {
  const auto seconds = static_cast<std::time_t>(date.timeIntervalSince1970());
  std::tm local{};
  if (!localtime_r(&seconds, &local)) return "";
  char text[64];
  const std::size_t n = std::strftime(text, sizeof text, "%b %-d, %Y at %-I:%M %p", &local);
  return std::string(text, n);
}

void setExtensionDisabledBannerPresenter(std::function<void(std::function<void()>)> presenter) {
  std::lock_guard lock(presenterMutex);
  bannerPresenter = std::move(presenter);
}

void showExtensionDisabledBanner(std::function<void()> openTutorial) {
  std::function<void(std::function<void()>)> presenter;
  {
    std::lock_guard lock(presenterMutex);
    presenter = bannerPresenter;
  }
  if (presenter) {
    presenter(std::move(openTutorial));
    return;
  }
  GlobalBanner::show(GlobalBanner::BannerType::warning, "😰 Not activated...",
                     "Please consult tutorial on how to activate " + appName() + " for Safari", "", std::nullopt,
                     uikit::UIStatusBarStyle::LightContent, "Tutorial", std::move(openTutorial));
}

void hideGlobalBanners() { MessageBanners::MessageBanners::sharedInstance()->hide(true); }

void presentAppShareSheet(uikit::UIViewController& source, const std::shared_ptr<uikit::UIBarButtonItem>& anchor) {
  source.presentViewController(makeShareSheet(anchor), true);
}

std::shared_ptr<FirstViewController> FirstViewController::createFromArchive() {
  std::shared_ptr<FirstViewController> screen(new FirstViewController());
  // The navigation items of the scene: the tutorial on the left, the menu on the right.
  screen->ownedTutorialItem_ = std::make_shared<uikit::UIBarButtonItem>();
  screen->ownedTutorialItem_->title = "?";
  screen->ownedMoreItem_ = std::make_shared<uikit::UIBarButtonItem>();
  screen->ownedMoreItem_->title = "•••";
  screen->tutorialBarButton = screen->ownedTutorialItem_;
  screen->moreBarButton = screen->ownedMoreItem_;
  screen->navigationItem.leftBarButtonItems = {screen->ownedTutorialItem_};
  screen->navigationItem.rightBarButtonItems = {screen->ownedMoreItem_};
  return screen;
}

std::shared_ptr<FirstViewController> FirstViewController::self() {
  return std::static_pointer_cast<FirstViewController>(shared_from_this());
}

std::shared_ptr<tovel::GlobalProgressBar> FirstViewController::progressBar() {
  if (!progressBar_) {
    std::shared_ptr<uikit::UIViewController> host;
    if (auto* navigation = navigationController())
      host = std::static_pointer_cast<uikit::UIViewController>(navigation->shared_from_this());
    progressBar_ = tovel::GlobalProgressBar::create(host, uikit::UIColor::whiteColor());
  }
  return progressBar_;
}

void FirstViewController::viewDidLoad() {
  UIViewController::viewDidLoad();
  auto me = self();
  std::weak_ptr<FirstViewController> weak = me;
  auto more = required(moreBarButton, "moreBarButton");
  more->accessibilityValue = "Menu";
  more->action = [weak](uikit::UIBarButtonItem&) {
    if (auto alive = weak.lock()) alive->showMoreMenu();
  };
  auto tutorial = required(tutorialBarButton, "tutorialBarButton");
  tutorial->accessibilityValue = "Tutorial";
  tutorial->action = [weak](uikit::UIBarButtonItem&) {
    if (auto alive = weak.lock()) alive->showTutorial();
  };

  auto table = required(tableView, "tableView");
  table->dataSource = me;
  table->tableDelegate = me;
  table->estimatedRowHeight = kEstimatedRowHeight;
  table->setAlpha(0);
  required(spinner, "spinner")->startAnimating();
  progressBar()->startAnimating();

  // Called at once with a cached configuration and again with the network's answer; the
  // callback keeps the screen.
  Singleton::shared().cloudConfig()->addRefreshCallback([me](tovel::CloudConfigSource source) {
    SharedAux::applyCloudConfig(source, Singleton::shared(), [me](bool remote) { me->configRefreshed(remote); });
  });

  if (!observing_) {
    observing_ = true;
    auto& center = foundation::NotificationCenter::defaultCenter();
    center.addObserver(weak, "busyOn", [](FirstViewController& s, const foundation::Notification&) { s.busyOn(); });
    center.addObserver(weak, "busyOff", [](FirstViewController& s, const foundation::Notification&) { s.busyOff(); });
    center.addObserver(weak, uikit::UIApplicationWillEnterForegroundNotification,
                       [](FirstViewController& s, const foundation::Notification&) { s.willForeground(); });
  }
  checkContentBlockerState();
}

void FirstViewController::configRefreshed(bool remote) {
  gotData = true;
  if (remote) progressBar()->stopAnimating();
  std::weak_ptr<FirstViewController> weak = self();
  dispatch::DispatchQueue::main()->async([weak] {
    auto alive = weak.lock();
    if (!alive) return;
    if (auto table = alive->tableView.lock()) table->reloadData();
  });
  auto table = required(tableView, "tableView");
  if (table->alpha() != 1.0) {
    required(spinner, "spinner")->stopAnimating();
    uikit::UIView::animate(0.5, [table] { table->setAlpha(1.0); });
  }
}

void FirstViewController::viewDidAppear(bool animated) {
  UIViewController::viewDidAppear(animated);
  cameIntoView();
}

void FirstViewController::cameIntoView() {
  tryToRateOnce();
  if (!Singleton::shared().userDefs()->boolean(kTutorialShownKey))
    presentTutorial(TutorialViewController::LaunchContext::onLaunch);
  SharedAux::shared().recompileIfWhitelistChanged();
  // Every visible list cell redraws its state.
  foundation::NotificationCenter::defaultCenter().post(ListCell::kProgressUpdateNotification);
}

void FirstViewController::willForeground() {
  checkContentBlockerState();
  cameIntoView();
}

void FirstViewController::busyOn() {
  auto logo = required(logoStack, "logoStack");
  auto busy = required(busyStack, "busyStack");
  uikit::UIView::animate(0.5, [logo, busy] {
    logo->setAlpha(0);
    busy->setAlpha(1);
  });
}

void FirstViewController::busyOff() {
  auto logo = required(logoStack, "logoStack");
  auto busy = required(busyStack, "busyStack");
  uikit::UIView::animate(1.0, 0.5, 0, [logo, busy] {
    logo->setAlpha(1);
    busy->setAlpha(0);
  });
}

void FirstViewController::checkContentBlockerState() {
  if (!Singleton::shared().userDefs()->boolean(kTutorialShownKey)) return;
  // A presentation from this screen sits on its navigation controller.
  auto* navigation = navigationController();
  if (presentedViewController() || (navigation && navigation->presentedViewController())) return;
  std::weak_ptr<FirstViewController> weak = self();
  uikit::ContentBlockerState::getStateOfContentBlocker(
      kExtensionBundleIdentifier, [weak](std::optional<bool> enabled, std::optional<foundation::Error> error) {
        // Runs on a thread of the browser service; an error or no state says nothing.
        if (error || !enabled || *enabled) return;
        dispatch::DispatchQueue::main()->async([weak] {
          if (auto alive = weak.lock()) {
            alive->showNotActivatedBanner();
          } else {
            showExtensionDisabledBanner({});
          }
        });
      });
}

void FirstViewController::showNotActivatedBanner() {
  std::weak_ptr<FirstViewController> weak = self();
  showExtensionDisabledBanner([weak] {
    if (auto alive = weak.lock()) alive->presentTutorial(TutorialViewController::LaunchContext::transientButton);
  });
}

void FirstViewController::presentTutorial(TutorialViewController::LaunchContext context) {
  (void)Singleton::shared().userDefs()->setBool(kTutorialShownKey, true);
  auto tutorial = makeTutorial();
  if (!tutorial) return;
  tutorial->launchContext = context;
  presentViewController(tutorial, true);
}

void FirstViewController::tryToRateOnce() {
  if (triedToRateOnce_) return;
  triedToRateOnce_ = true;
  tryToRate();
}

void FirstViewController::tryToRate() {
  Singleton& singleton = Singleton::shared();
  auto defs = singleton.userDefs();
  if (!defs->boolean(kTutorialShownKey)) return;
  if (singleton.launchCount() < singleton.rateMinimumLaunches()) return;
  uikit::SKStoreReviewController::requestReview();
  if (!defs->boolean(kTriedToRateEverKey)) {
    log("firstTryToRateEver");
    (void)defs->setBool(kTriedToRateEverKey, true);
  }
}

void FirstViewController::showTutorial() { presentTutorial(TutorialViewController::LaunchContext::navigationButton); }

void FirstViewController::showMoreMenu() {
  auto sheet = uikit::UIAlertController::create(std::nullopt, std::nullopt, uikit::UIAlertControllerStyle::ActionSheet);
  std::weak_ptr<FirstViewController> weak = self();
  auto run = [weak](void (FirstViewController::*action)()) {
    return [weak, action](const uikit::UIAlertAction&) {
      if (auto alive = weak.lock()) ((*alive).*action)();
    };
  };
  sheet->addAction({"Rate us 🌟🌟🌟🌟🌟", uikit::UIAlertActionStyle::Default, run(&FirstViewController::rateFromMenu)});
  sheet->addAction({"💝 Share the app", uikit::UIAlertActionStyle::Default, run(&FirstViewController::shareFromMenu)});
  if (Singleton::shared().learnMoreEnabled())
    sheet->addAction({"Learn more...", uikit::UIAlertActionStyle::Default, run(&FirstViewController::learnMoreFromMenu)});
  sheet->addAction({"Cancel", uikit::UIAlertActionStyle::Cancel, {}});
  if (auto& popover = sheet->popoverPresentationController()) popover->barButtonItem = moreBarButton;
  presentViewController(sheet, true);
}

void FirstViewController::rateFromMenu() {
  // A remote text that is no URL opens nothing.
  if (auto url = openableURL(Singleton::shared().rateUrl())) uikit::UIApplication::shared().openURL(url->absoluteString());
  log("rateFromMenu");
}

void FirstViewController::shareFromMenu() {
  presentAppShareSheet(*this, moreBarButton.lock());
  log("shareFromMenu");
}

void FirstViewController::learnMoreFromMenu() {
  if (auto url = openableURL(Singleton::shared().learnMorePageUrl())) {
    // The in-app browser shows web pages only; any other address goes to the desktop's opener.
    const std::string scheme = url->scheme();
    if (scheme == "http" || scheme == "https") {
      presentViewController(std::make_shared<uikit::SFSafariViewController>(url->absoluteString()), true);
    } else {
      uikit::UIApplication::shared().openURL(url->absoluteString());
    }
  }
  log("learnMoreFromMenu");
}

std::optional<foundation::Date> FirstViewController::newestListDate() {
  std::optional<foundation::Date> newest;
  for (const auto& list : *Singleton::shared().lists()) {
    const auto date = list->obj().modifiedAt();
    if (!newest || date.timeIntervalSince1970() > newest->timeIntervalSince1970()) newest = date;
  }
  return newest;
}

long FirstViewController::numberOfSectionsInTableView(uikit::UITableView&) { return 3; }

long FirstViewController::numberOfRowsInSection(uikit::UITableView&, long section) {
  if (section == kWhitelistSection) return 1;
  if (!gotData) return 0;
  if (section == kListsSection) return static_cast<long>(Singleton::shared().lists()->size());
  if (section == kAppsSection) return static_cast<long>(Singleton::shared().apps()->size());
  return 0;
}

std::optional<std::string> FirstViewController::titleForHeaderInSection(uikit::UITableView&, long section) {
  switch (section) {
    case kListsSection: return appName() + " Filters";
    case kWhitelistSection: return "User defined Filters";
    case kAppsSection: return "Other apps we ❤️";
    default: return std::nullopt;
  }
}

std::optional<std::string> FirstViewController::titleForFooterInSection(uikit::UITableView&, long section) {
  if (section != kListsSection) return std::nullopt;
  auto newest = newestListDate();
  if (!newest) return std::nullopt;
  return "Last definitions update: " + formatListDate(*newest);
}

double FirstViewController::heightForRowAtIndexPath(uikit::UITableView&, const NSIndexPath&) {
  return uikit::UITableViewAutomaticDimension;
}

std::shared_ptr<uikit::UITableViewCell> FirstViewController::cellForRowAtIndexPath(uikit::UITableView& table,
                                                                                   const NSIndexPath& path) {
  auto tableRef = std::static_pointer_cast<uikit::UITableView>(table.shared_from_this());
  const auto row = static_cast<std::size_t>(path.row);
  if (path.section == kListsSection) {
    auto lists = Singleton::shared().lists();
    auto cell = std::dynamic_pointer_cast<ListCell>(table.dequeueReusableCell(ListCell::kReuseIdentifier, path));
    if (!cell || path.row < 0 || row >= lists->size()) return cell ? cell : std::make_shared<uikit::UITableViewCell>("");
    const auto& list = (*lists)[row];
    cell->list = list;
    cell->tableRow = path.row;
    cell->delegate = self();
    cell->configure();
    auto image = cell->iconImageView.lock();
    showCatalogueIcon(list->obj(), tableRef, path, image ? image->bounds().size : uikit::CGSize{},
                      [](uikit::UITableViewCell& shown) -> CatalogueIconSlot {
                        auto* listCell = dynamic_cast<ListCell*>(&shown);
                        if (!listCell) return {};
                        return {listCell->iconImageView.lock(), listCell->iconSpinner.lock()};
                      });
    return cell;
  }
  if (path.section == kWhitelistSection) {
    auto cell = table.dequeueReusableCell("WhitelistCell", path);
    return cell ? cell : std::make_shared<uikit::UITableViewCell>("WhitelistCell");
  }
  auto apps = Singleton::shared().apps();
  auto cell = std::dynamic_pointer_cast<AppCell>(table.dequeueReusableCell(AppCell::kReuseIdentifier, path));
  if (!cell || path.row < 0 || row >= apps->size()) return cell ? cell : std::make_shared<uikit::UITableViewCell>("");
  const auto& app = (*apps)[row];
  if (auto label = cell->appTextLabel.lock()) label->setText(app.name());
  auto image = cell->appImageView.lock();
  showCatalogueIcon(app, tableRef, path, image ? image->bounds().size : uikit::CGSize{},
                    [](uikit::UITableViewCell& shown) -> CatalogueIconSlot {
                      auto* appCell = dynamic_cast<AppCell*>(&shown);
                      if (!appCell) return {};
                      return {appCell->appImageView.lock(), appCell->appSpinner.lock()};
                    });
  return cell;
}

void FirstViewController::didSelectRowAtIndexPath(uikit::UITableView& table, const NSIndexPath& path) {
  if (path.section == kListsSection) {
    if (!uikit::UIAccessibility::isVoiceOverRunning()) return;
    if (auto cell = std::dynamic_pointer_cast<ListCell>(table.cellForRowAtIndexPath(path))) cell->toggleSwitch();
  } else if (path.section == kWhitelistSection) {
    // The whitelist row's storyboard segue.
    if (!storyboard) return;
    if (auto shown = storyboard->performSegue(kWhitelistSegue, self()); !shown)
      uikit::UIKitLog::write("cannot show the whitelist: " + shown.error().localizedDescription());
  } else if (path.section == kAppsSection) {
    auto apps = Singleton::shared().apps();
    if (path.row < 0 || static_cast<std::size_t>(path.row) >= apps->size()) return;
    const auto& app = (*apps)[static_cast<std::size_t>(path.row)];
    if (app.kind() == CloudObject::Kind::App) openApp(path, app);
  }
}

void FirstViewController::openApp(const NSIndexPath& path, const CloudObject& app) {
  auto table = tableView.lock();
  auto cell = table ? std::dynamic_pointer_cast<AppCell>(table->cellForRowAtIndexPath(path)) : nullptr;
  auto store = std::make_shared<uikit::SKStoreProductViewController>();
  store->title = app.name();
  auto me = self();
  store->delegate = me;
  Singleton& singleton = Singleton::shared();
  foundation::Dictionary parameters{{uikit::SKStoreProductParameterITunesItemIdentifier, app.iTunesId()},
                                    {uikit::SKStoreProductParameterAffiliateToken, singleton.iTunesAffiliateToken()},
                                    {uikit::SKStoreProductParameterCampaignToken, singleton.iTunesCampaignToken()}};
  std::weak_ptr<FirstViewController> weak = me;
  if (singleton.loadStoreForApps()) {
    if (cell) cell->startSpinner();
    std::weak_ptr<AppCell> weakCell = cell;
    store->loadProductWithParameters(parameters, [weak, weakCell, store](bool loaded, std::optional<foundation::Error> error) {
      if (auto shownCell = weakCell.lock()) shownCell->spinner->removeFromSuperview();
      auto alive = weak.lock();
      if (alive && loaded && !error) alive->presentViewController(store, true);
    });
  } else {
    presentViewController(store, true);
    store->loadProductWithParameters(parameters, {});
  }
  log("appTapped", {{"app", app.name()}});
}

void FirstViewController::scrollViewWillBeginDragging(uikit::UIScrollView&) { hideGlobalBanners(); }

void FirstViewController::productViewControllerDidFinish(uikit::SKStoreProductViewController&) {
  dismissViewControllerAnimated(true);
}

void registerFirstViewControllerArchiveClasses() {
  using R = uikit::ClassRegistry;
  using F = FirstViewController;
  if (R::isRegistered("FirstViewController")) return;
  R::registerClass("FirstViewController", "UIViewController", [] { return F::createFromArchive(); });
  R::registerOutlet<F, uikit::UITableView>("FirstViewController", "tableView",
                                           [](F& f, std::shared_ptr<uikit::UITableView> v) { f.tableView = v; });
  R::registerOutlet<F, uikit::UIActivityIndicatorView>(
      "FirstViewController", "spinner", [](F& f, std::shared_ptr<uikit::UIActivityIndicatorView> v) { f.spinner = v; });
  R::registerOutlet<F, uikit::UIStackView>("FirstViewController", "logoStack",
                                           [](F& f, std::shared_ptr<uikit::UIStackView> v) { f.logoStack = v; });
  R::registerOutlet<F, uikit::UIStackView>("FirstViewController", "busyStack",
                                           [](F& f, std::shared_ptr<uikit::UIStackView> v) { f.busyStack = v; });
}

}  // namespace fendrel
