#pragma once
#include <memory>
#include <optional>
#include <vector>

#include "app/core/WhitelistElement.h"
#include "app/screens/WhitelistEntryViewController.h"
#include "platform/uikit/TableView.h"
#include "platform/uikit/ViewController.h"

namespace fendrel {

/// The user's whitelist: enabled rules in section 0, disabled rules in section 1, each in stored
/// order. Selecting a rule edits it, the add item adds one, deleting a row removes that rule by
/// its stored position. Main thread only.
class WhitelistViewController : public uikit::UIViewController,
                                public uikit::UITableViewDataSource,
                                public uikit::UITableViewDelegate,
                                public WhitelistEntryViewControllerDelegate {
 public:
  static constexpr const char* kRuleCellIdentifier = "Rule";
  enum class EditingStyle { None, Delete, Insert };

  std::string className() const override { return "WhitelistViewController"; }

  std::weak_ptr<uikit::UITableView> tableView;
  /// The navigation bar's add item, made with the view.
  std::shared_ptr<uikit::UIBarButtonItem> editBarButton;
  std::optional<uikit::NSIndexPath> lastSelectedIndexPath;

  /// The one entry screen, made on first use from the storyboard "Shared"; null (logged) when the
  /// storyboard cannot give one.
  std::shared_ptr<WhitelistEntryViewController> whitelistEntryViewController();

  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;
  void addTap();

  long numberOfSectionsInTableView(uikit::UITableView& table) override;
  long numberOfRowsInSection(uikit::UITableView& table, long section) override;
  std::shared_ptr<uikit::UITableViewCell> cellForRowAtIndexPath(uikit::UITableView& table,
                                                                const uikit::NSIndexPath& path) override;
  std::optional<std::string> titleForHeaderInSection(uikit::UITableView& table, long section) override;
  double heightForRowAtIndexPath(uikit::UITableView& table, const uikit::NSIndexPath& path) override;
  void didSelectRowAtIndexPath(uikit::UITableView& table, const uikit::NSIndexPath& path) override;
  /// A swipe's delete: removes the rule at that row and reloads both sections.
  void commitEditingStyle(uikit::UITableView& table, EditingStyle style, const uikit::NSIndexPath& path);

  std::shared_ptr<uikit::UITableView> whitelistTableView() override { return tableView.lock(); }

 private:
  /// The rules of one section, as stored now.
  std::vector<WhitelistElement> rules(long section) const;
  std::shared_ptr<WhitelistEntryViewController> entry_;
};

void registerWhitelistArchiveClasses();

}  // namespace fendrel
