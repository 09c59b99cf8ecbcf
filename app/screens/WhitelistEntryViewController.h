#pragma once
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "app/core/WhitelistElement.h"
#include "platform/uikit/Switch.h"
#include "platform/uikit/TextField.h"
#include "platform/uikit/ViewController.h"

namespace uikit {
class UITableView;
}

namespace fendrel {

/// The list screen that an entry screen saves into. The entry screen reloads that screen's table
/// itself, so the protocol asks nothing more.
class WhitelistEntryViewControllerDelegate {
 public:
  virtual ~WhitelistEntryViewControllerDelegate() = default;
  /// The table whose sections 0 and 1 show the rules.
  virtual std::shared_ptr<uikit::UITableView> whitelistTableView() = 0;
};

/// The site text a whitelist rule stores, from what the user typed or pasted: lower-cased, with
/// a pasted web address reduced to its site (a leading "scheme://" and everything from the first
/// "/", "?" or "#" dropped), then every character outside "1234567890qwertyuiopasdfghjklzxcvbnm-."
/// removed.
std::string sanitizeWebsiteText(std::string_view text);

/// Edits one whitelist rule: its site text and its enabled switch. The one instance, from the
/// storyboard "Shared" ("WhitelistEntry"), serves every add and edit of the list screen.
/// Main thread only.
class WhitelistEntryViewController : public uikit::UIViewController {
 public:
  enum class Mode { Add, Edit };

  std::string className() const override { return "WhitelistEntryViewController"; }

  std::optional<WhitelistElement> whitelistElement;
  std::weak_ptr<uikit::UITextField> websiteTextField;
  std::weak_ptr<uikit::UISwitch> enabledSwitch;
  /// The navigation bar's Save item, made with the view.
  std::shared_ptr<uikit::UIBarButtonItem> saveBarButton;
  Mode mode = Mode::Add;
  std::weak_ptr<WhitelistEntryViewControllerDelegate> delegate;
  bool wasViewDidLoad = false;

  /// Fills the screen from `whitelistElement` (Edit) or empty with the switch on (Add); does
  /// nothing before the view has loaded.
  void configure();
  void viewDidLoad() override;
  /// Cleans the text on every change and enables Save only for a non-empty result.
  void websiteTextChanged();
  /// The return key ends editing.
  void websiteEnterPressed();
  void saveTap() { save(); }
  /// Adds or updates the rule while the list screen exists and the site text is not empty,
  /// reloads its sections and goes back to it. When the rule cannot be stored, the screen stays
  /// with the typed entry and an error banner says why.
  void save();

 private:
  void fill();
};

void registerWhitelistEntryArchiveClasses();

}  // namespace fendrel
