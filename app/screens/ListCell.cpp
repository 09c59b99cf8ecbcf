#include "app/screens/ListCell.h"

#include <cmath>

#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiHub.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiSDK.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiSpan.h"
#include "dozidi-cocoa/Sources/Dozidi/Scope/DozidiScope.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/uikit/Accessibility.h"
#include "platform/uikit/Application.h"
#include "platform/uikit/Archive.h"
#include "platform/uikit/LayoutConstraint.h"

// A runtime class of the app's own image: traced as the app's, and named "Fendrel.ListCell".
RUNTIME_CLASS(fendrel::ListCell, uikit::UITableViewCell, "Fendrel.ListCell");

namespace fendrel {

using uikit::UIColor;

std::string listStateAccessibilityText(const ListElementState& state) {
  using Case = ListElementState::Case;
  switch (state.kind()) {
    case Case::NotDownloaded: return "(not downloaded yet)";
    case Case::PreparingForDownload: return "(preparing for download)";
    case Case::DownloadedDisabled: return "(disabled, double tap to toggle)";
    case Case::DownloadedEnabled: return "(enabled, double tap to toggle)";
    case Case::Downloading: {
      // The state carries a fraction; people hear a whole percentage, never more than 100.
      double percent = std::round(static_cast<double>(state.percent()) * 100.0);
      if (!(percent >= 0)) percent = 0;  // also NaN
      if (percent > 100) percent = 100;
      return "(downloading " + std::to_string(static_cast<int>(percent)) + "%)";
    }
  }
  return {};
}

std::shared_ptr<ListCell> ListCell::createFromArchive() {
  std::shared_ptr<ListCell> cell(new ListCell());
  // The centre holds the cell weakly and drops the registration once the cell is gone.
  foundation::NotificationCenter::defaultCenter().addObserver(
      std::weak_ptr<ListCell>(cell), kProgressUpdateNotification,
      [](ListCell& self, const foundation::Notification&) { self.listElementProgressUpdate(); });
  return cell;
}

void ListCell::awakeFromNib() {
  UITableViewCell::awakeFromNib();
  if (auto button = downloadButton.lock()) button->setStyle(ActivityIndicatorButtonStyle::outline);
  if (auto toggle = enabledSwitch.lock()) {
    toggle->addTarget<ListCell>(std::static_pointer_cast<ListCell>(shared_from_this()), "switchFlipped:",
                      uikit::UIControlEventValueChanged, [](ListCell& self, uikit::UIControl&) { self.switchFlipped(); });
  }
}

void ListCell::prepareForReuse() {
  UITableViewCell::prepareForReuse();
  if (auto icon = iconImageView.lock()) icon->setImage(nullptr);
  if (auto spinner = iconSpinner.lock()) spinner->startAnimating();
}

void ListCell::configure() {
  auto element = list.lock();
  if (!element) return;
  if (auto label = titleLabel.lock()) label->setText(element->name());
  if (auto label = countLabel.lock()) label->setText(std::to_string(element->count()) + " entries");
  if (auto label = descLabel.lock()) label->setText(element->desc());
  element->setCellDelegate(std::static_pointer_cast<ListCell>(shared_from_this()));
  listElementProgressUpdate();
  layoutIfNeeded();
}

void ListCell::listElementProgressUpdate() { progressUpdate(); }

void ListCell::progressUpdate() {
  auto element = list.lock();
  if (!element) return;
  using Case = ListElementState::Case;
  const ListElementState state = element->state();
  const bool downloaded = state.kind() == Case::DownloadedDisabled || state.kind() == Case::DownloadedEnabled;
  if (auto toggle = enabledSwitch.lock()) {
    toggle->setOn(state.kind() == Case::DownloadedEnabled);
    toggle->setAlpha(downloaded ? 1.0 : 0.0);
  }
  if (auto button = downloadButton.lock()) {
    button->setAlpha(downloaded ? 0.0 : 1.0);
    button->changeActivityState([&](ActivityIndicatorButton::State& look) {
      switch (state.kind()) {
        case Case::Downloading:
          look.image = nullptr;
          look.progressBarStyle = ActivityIndicatorButtonProgressBarStyle::percentage(state.percent());
          break;
        case Case::PreparingForDownload:
          look.image = nullptr;
          look.progressBarStyle = ActivityIndicatorButtonProgressBarStyle::spinning();
          break;
        default: look.progressBarStyle = ActivityIndicatorButtonProgressBarStyle::inactive(); break;
      }
    });
    button->setUserInteractionEnabled(state.kind() != Case::Downloading &&
                                      state.kind() != Case::PreparingForDownload);
  }
  // The spoken state follows every change of the download state, not only switch flips.
  updateAppearance();
}

void ListCell::setEnabled(bool enabled) {
  auto element = list.lock();
  if (!element) return;
  // A change that cannot be stored leaves the element as it was; redrawing puts the switch back.
  if (!element->setEnabled(enabled)) progressUpdate();
}

void ListCell::switchFlipped() {
  // Storing the choice is traced inside the transaction of the tap, when traces are on.
  std::shared_ptr<DozidiSpan> span;
  if (auto bound = DozidiSDK::currentHub()->scope()->span()) {
    auto element = list.lock();
    span = bound->startChildWithOperation("app.list.enable", element ? std::optional(element->name()) : std::nullopt);
  }
  if (auto toggle = enabledSwitch.lock()) setEnabled(toggle->isOn());
  updateAppearance();
  if (span) span->finish();
}

void ListCell::toggleSwitch() {
  auto element = list.lock();
  auto toggle = enabledSwitch.lock();
  if (!element || !toggle) return;
  const auto kind = element->state().kind();
  if (kind != ListElementState::Case::DownloadedDisabled && kind != ListElementState::Case::DownloadedEnabled) return;
  toggle->setOn(!toggle->isOn(), true);
  setEnabled(toggle->isOn());
  updateAppearance();
}

void ListCell::updateAppearance() {
  auto element = list.lock();
  if (!element) return;
  isAccessibilityElement = true;
  if (auto label = titleLabel.lock())
    label->accessibilityLabel = element->name() + " " + listStateAccessibilityText(element->state());
  accessibilityTraits = uikit::UIAccessibilityTraitButton;
}

AppCell::AppCell()
    : UITableViewCell(kReuseIdentifier),
      spinner(std::make_shared<uikit::UIActivityIndicatorView>(uikit::UIActivityIndicatorViewStyle::Gray)) {}

void AppCell::awakeFromNib() {
  UITableViewCell::awakeFromNib();
  auto icon = appImageView.lock();
  if (!icon) return;
  icon->layer()->setCornerRadius(12.0);
  icon->setClipsToBounds(true);
  icon->layer()->setBorderColor(UIColor::grayColor());
  icon->layer()->setBorderWidth(0.1);
}

void AppCell::prepareForReuse() {
  UITableViewCell::prepareForReuse();
  if (auto icon = appImageView.lock()) icon->setImage(nullptr);
  if (auto s = appSpinner.lock()) s->startAnimating();
}

void AppCell::startSpinner() {
  auto& content = contentView();
  content->addSubview(spinner);
  spinner->setTranslatesAutoresizingMaskIntoConstraints(false);
  uikit::NSLayoutConstraint::activateConstraints(
      {spinner->trailingAnchor().constraintEqualTo(content->trailingAnchor(), -15.0),
       spinner->centerYAnchor().constraintEqualTo(content->centerYAnchor())});
  if (uikit::UIDevice::current().isAtLeast(13)) {
    spinner->setBackgroundColor(UIColor::secondarySystemGroupedBackgroundColor());
  } else {
    spinner->style = uikit::UIActivityIndicatorViewStyle::Medium;
    spinner->setBackgroundColor(UIColor::whiteColor());
  }
  spinner->startAnimating();
}

void registerCellArchiveClasses() {
  using R = uikit::ClassRegistry;
  if (R::isRegistered("ListCell")) return;
  R::registerClass("ListCell", "UITableViewCell", [] { return ListCell::createFromArchive(); });
  R::registerClass("AppCell", "UITableViewCell", [] { return std::make_shared<AppCell>(); });
  R::registerOutlet<ListCell, uikit::UIImageView>("ListCell", "iconImageView",
                                                  [](ListCell& c, auto v) { c.iconImageView = v; });
  R::registerOutlet<ListCell, uikit::UIActivityIndicatorView>("ListCell", "iconSpinner",
                                                              [](ListCell& c, auto v) { c.iconSpinner = v; });
  R::registerOutlet<ListCell, uikit::UILabel>("ListCell", "titleLabel", [](ListCell& c, auto v) { c.titleLabel = v; });
  R::registerOutlet<ListCell, uikit::UILabel>("ListCell", "countLabel", [](ListCell& c, auto v) { c.countLabel = v; });
  R::registerOutlet<ListCell, uikit::UILabel>("ListCell", "descLabel", [](ListCell& c, auto v) { c.descLabel = v; });
  R::registerOutlet<ListCell, uikit::UISwitch>("ListCell", "enabledSwitch",
                                               [](ListCell& c, auto v) { c.enabledSwitch = v; });
  R::registerOutlet<ListCell, ActivityIndicatorButton>("ListCell", "downloadButton",
                                                       [](ListCell& c, auto v) { c.downloadButton = v; });
  R::registerOutlet<AppCell, uikit::UIImageView>("AppCell", "appImageView",
                                                 [](AppCell& c, auto v) { c.appImageView = v; });
  R::registerOutlet<AppCell, uikit::UIActivityIndicatorView>("AppCell", "appSpinner",
                                                             [](AppCell& c, auto v) { c.appSpinner = v; });
  R::registerOutlet<AppCell, uikit::UILabel>("AppCell", "appTextLabel", [](AppCell& c, auto v) { c.appTextLabel = v; });
}

}  // namespace fendrel
