#include "app/screens/WhitelistViewController.h"

#include "app/core/Singleton.h"
#include "app/screens/GlobalBanner.h"
#include "platform/uikit/Archive.h"
#include "platform/uikit/Log.h"
#include "platform/uikit/NavigationController.h"

// A runtime class of the app's own image: traced as the app's, and named "Fendrel.WhitelistViewController".
RUNTIME_CLASS(fendrel::WhitelistViewController, uikit::UIViewController, "Fendrel.WhitelistViewController");

namespace fendrel {

namespace {
constexpr int kRowAnimationAutomatic = 100;
constexpr double kEstimatedRowHeight = 20.0;
}  // namespace

std::shared_ptr<WhitelistEntryViewController> WhitelistViewController::whitelistEntryViewController() {
  if (entry_) return entry_;
  auto board = uikit::UIStoryboard::storyboardWithName("Shared");
  if (!board) {
    uikit::UIKitLog::write("cannot load the whitelist entry screen: " + board.error().localizedDescription());
    return nullptr;
  }
  auto made = (*board)->instantiateViewControllerWithIdentifier("WhitelistEntry");
  auto entry = made ? std::dynamic_pointer_cast<WhitelistEntryViewController>(*made) : nullptr;
  if (!entry) {
    uikit::UIKitLog::write("cannot load the whitelist entry screen: the storyboard Shared has no WhitelistEntry of "
                           "that class");
    return nullptr;
  }
  entry->delegate = std::static_pointer_cast<WhitelistViewController>(shared_from_this());
  entry_ = std::move(entry);
  return entry_;
}

void WhitelistViewController::viewDidLoad() {
  UIViewController::viewDidLoad();
  if (!editBarButton) {
    editBarButton = std::make_shared<uikit::UIBarButtonItem>();
    editBarButton->title = "Add";
    editBarButton->accessibilityLabel = "Add rule";
    editBarButton->action = [weak = std::weak_ptr<WhitelistViewController>(
                                 std::static_pointer_cast<WhitelistViewController>(shared_from_this()))](
                                uikit::UIBarButtonItem&) {
      if (auto alive = weak.lock()) alive->addTap();
    };
    navigationItem.rightBarButtonItems = {editBarButton};
  }
  if (auto table = tableView.lock()) table->estimatedRowHeight = kEstimatedRowHeight;
}

void WhitelistViewController::viewWillAppear(bool animated) {
  UIViewController::viewWillAppear(animated);
  if (!lastSelectedIndexPath) return;
  if (auto table = tableView.lock()) table->deselectRowAtIndexPath(*lastSelectedIndexPath, true);
}

std::vector<WhitelistElement> WhitelistViewController::rules(long section) const {
  std::vector<WhitelistElement> out;
  for (auto& rule : Singleton::shared().whitelist())
    if (rule.enabled == (section == 0)) out.push_back(std::move(rule));
  return out;
}

long WhitelistViewController::numberOfSectionsInTableView(uikit::UITableView&) { return 2; }

long WhitelistViewController::numberOfRowsInSection(uikit::UITableView&, long section) {
  return static_cast<long>(rules(section).size());
}

std::shared_ptr<uikit::UITableViewCell> WhitelistViewController::cellForRowAtIndexPath(
    uikit::UITableView& table, const uikit::NSIndexPath& path) {
  auto cell = table.dequeueReusableCell(kRuleCellIdentifier, path);
  if (!cell) cell = std::make_shared<uikit::UITableViewCell>(kRuleCellIdentifier);
  auto section = rules(path.section);
  if (path.row >= 0 && static_cast<std::size_t>(path.row) < section.size())
    cell->textLabel()->setText(section[static_cast<std::size_t>(path.row)].url);
  return cell;
}

std::optional<std::string> WhitelistViewController::titleForHeaderInSection(uikit::UITableView&, long section) {
  return section == 0 ? "Enabled rules" : "Disabled rules";
}

double WhitelistViewController::heightForRowAtIndexPath(uikit::UITableView&, const uikit::NSIndexPath&) {
  return uikit::UITableViewAutomaticDimension;
}

void WhitelistViewController::didSelectRowAtIndexPath(uikit::UITableView&, const uikit::NSIndexPath& path) {
  auto section = rules(path.section);
  auto entry = whitelistEntryViewController();
  if (!entry || path.row < 0 || static_cast<std::size_t>(path.row) >= section.size()) return;
  entry->whitelistElement = section[static_cast<std::size_t>(path.row)];
  entry->configure();
  if (auto* navigation = navigationController()) navigation->pushViewController(entry, true);
  lastSelectedIndexPath = path;
}

void WhitelistViewController::addTap() {
  auto entry = whitelistEntryViewController();
  if (!entry) return;
  entry->whitelistElement.reset();
  entry->configure();
  if (auto* navigation = navigationController()) navigation->pushViewController(entry, true);
}

void WhitelistViewController::commitEditingStyle(uikit::UITableView& table, EditingStyle style,
                                                 const uikit::NSIndexPath& path) {
  if (style != EditingStyle::Delete) return;
  auto section = rules(path.section);
  if (path.row < 0 || static_cast<std::size_t>(path.row) >= section.size()) return;
  // The stored position, not the row: the sections split the stored list.
  Singleton& singleton = Singleton::shared();
  if (auto removed = singleton.removeWhitelistElement(section[static_cast<std::size_t>(path.row)].index); !removed) {
    // The rule is still stored, so its row stays.
    GlobalBanner::show(GlobalBanner::BannerType::error, "Cannot remove the rule",
                       singleton.whitelistFailureReason(removed.error()));
  }
  table.reloadSections({0, 1}, kRowAnimationAutomatic);
}

void registerWhitelistArchiveClasses() {
  using R = uikit::ClassRegistry;
  using C = WhitelistViewController;
  registerWhitelistEntryArchiveClasses();
  if (R::isRegistered("WhitelistViewController")) return;
  R::registerClass("WhitelistViewController", "UIViewController", [] { return std::make_shared<C>(); });
  R::registerOutlet<C, uikit::UITableView>("WhitelistViewController", "tableView", [](C& c, auto v) {
    c.tableView = v;
  });
}

}  // namespace fendrel
