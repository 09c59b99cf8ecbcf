#include "app/screens/WhitelistEntryViewController.h"

#include "app/core/Singleton.h"
#include "app/screens/GlobalBanner.h"
#include "platform/uikit/Archive.h"
#include "platform/uikit/NavigationController.h"
#include "platform/uikit/TableView.h"

// A runtime class of the app's own image: traced as the app's, and named "Fendrel.WhitelistEntryViewController".
RUNTIME_CLASS(fendrel::WhitelistEntryViewController, uikit::UIViewController, "Fendrel.WhitelistEntryViewController");

namespace fendrel {

namespace {

constexpr std::string_view kAllowedCharacters = "1234567890qwertyuiopasdfghjklzxcvbnm-.";
/// reloadSections' automatic row animation.
constexpr int kRowAnimationAutomatic = 100;

bool isSchemeCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '+' || c == '-' ||
         c == '.';
}

/// The site of a pasted web address: without a leading "scheme://" and without anything from the
/// first "/", "?" or "#". A site text without those comes back unchanged. Without this a pasted
/// "https://www.example.com/page" would become the rule "httpswww.example.compage", which matches
/// no site.
std::string_view siteOf(std::string_view text) {
  if (auto scheme = text.find("://"); scheme != std::string_view::npos && scheme > 0) {
    bool isScheme = true;
    for (char c : text.substr(0, scheme)) isScheme = isScheme && isSchemeCharacter(c);
    if (isScheme) text.remove_prefix(scheme + 3);
  }
  return text.substr(0, text.find_first_of("/?#"));
}

}  // namespace

std::string sanitizeWebsiteText(std::string_view text) {
  std::string out;
  for (char c : siteOf(text)) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    // Bytes of non-ASCII letters are never in the allowed set, so they go too.
    if (kAllowedCharacters.find(c) != std::string_view::npos) out.push_back(c);
  }
  return out;
}

void WhitelistEntryViewController::viewDidLoad() {
  UIViewController::viewDidLoad();
  wasViewDidLoad = true;
  auto self = std::static_pointer_cast<WhitelistEntryViewController>(shared_from_this());
  if (!saveBarButton) {
    saveBarButton = std::make_shared<uikit::UIBarButtonItem>();
    saveBarButton->title = "Save";
    saveBarButton->action = [weak = std::weak_ptr<WhitelistEntryViewController>(self)](uikit::UIBarButtonItem&) {
      if (auto alive = weak.lock()) alive->saveTap();
    };
    navigationItem.rightBarButtonItems = {saveBarButton};
  }
  if (auto field = websiteTextField.lock()) {
    field->addTarget<WhitelistEntryViewController>(self, "websiteTextChanged:", uikit::UIControlEventEditingChanged,
                     [](WhitelistEntryViewController& c, uikit::UIControl&) { c.websiteTextChanged(); });
    field->addTarget<WhitelistEntryViewController>(self, "websiteEnterPressed:", uikit::UIControlEventEditingDidEndOnExit,
                     [](WhitelistEntryViewController& c, uikit::UIControl&) { c.websiteEnterPressed(); });
  }
  fill();
}

void WhitelistEntryViewController::configure() {
  if (!wasViewDidLoad) return;
  fill();
}

void WhitelistEntryViewController::fill() {
  auto field = websiteTextField.lock();
  auto toggle = enabledSwitch.lock();
  if (whitelistElement && whitelistElement->index >= 0) {
    mode = Mode::Edit;
    title = "Edit rule";
    if (field) field->setText(whitelistElement->url);
    if (toggle) toggle->setOn(whitelistElement->enabled);
  } else {
    mode = Mode::Add;
    title = "Add rule";
    if (field) field->setText("");
    if (toggle) toggle->setOn(true);
  }
  navigationItem.title = title;
  if (saveBarButton) saveBarButton->enabled = field && !field->text().empty();
}

void WhitelistEntryViewController::websiteTextChanged() {
  auto field = websiteTextField.lock();
  if (!field) return;
  std::string cleaned = sanitizeWebsiteText(field->text());
  // Text that needs no cleaning keeps the caret where the user put it.
  if (cleaned != field->text()) field->setText(cleaned);
  if (saveBarButton) saveBarButton->enabled = !cleaned.empty();
  // The bar shows an item's state when it lays out next.
  if (auto* navigation = navigationController()) navigation->navigationBar()->setNeedsLayout();
}

void WhitelistEntryViewController::websiteEnterPressed() {
  if (auto field = websiteTextField.lock()) field->resignFirstResponder();
}

void WhitelistEntryViewController::save() {
  auto field = websiteTextField.lock();
  auto toggle = enabledSwitch.lock();
  // An empty site would whitelist nothing useful; Save is off for it, and a save asked for anyway
  // stores nothing.
  if (auto list = delegate.lock(); list && field && toggle && !field->text().empty()) {
    Singleton& singleton = Singleton::shared();
    auto saved = mode == Mode::Edit && whitelistElement
                     ? singleton.updateWhitelistElement(whitelistElement->index, field->text(), toggle->isOn())
                     : singleton.addWhitelistElement(field->text(), toggle->isOn());
    if (!saved) {
      // The stored list is as it was: the editor stays open with what was typed, so that nothing
      // typed is lost and the user can try again.
      GlobalBanner::show(GlobalBanner::BannerType::error, "Cannot save the rule",
                         singleton.whitelistFailureReason(saved.error()));
      return;
    }
    if (auto table = list->whitelistTableView()) table->reloadSections({0, 1}, kRowAnimationAutomatic);
  }
  if (auto* navigation = navigationController()) navigation->popViewControllerAnimated(true);
}

void registerWhitelistEntryArchiveClasses() {
  using R = uikit::ClassRegistry;
  using C = WhitelistEntryViewController;
  if (R::isRegistered("WhitelistEntryViewController")) return;
  R::registerClass("WhitelistEntryViewController", "UIViewController", [] { return std::make_shared<C>(); });
  R::registerOutlet<C, uikit::UITextField>("WhitelistEntryViewController", "websiteTextField",
                                           [](C& c, auto v) { c.websiteTextField = v; });
  R::registerOutlet<C, uikit::UISwitch>("WhitelistEntryViewController", "enabledSwitch",
                                        [](C& c, auto v) { c.enabledSwitch = v; });
}

}  // namespace fendrel
