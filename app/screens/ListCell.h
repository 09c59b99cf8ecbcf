#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "app/core/ListElement.h"
#include "app/screens/ActivityIndicatorButton.h"
#include "platform/uikit/ActivityIndicatorView.h"
#include "platform/uikit/ImageView.h"
#include "platform/uikit/Label.h"
#include "platform/uikit/Switch.h"
#include "platform/uikit/TableView.h"

namespace fendrel {

/// What a list cell may ask of the screen that shows it. The cells ask nothing yet; the main
/// screen conforms so that it can be given to them.
class ListCellDelegate {
 public:
  virtual ~ListCellDelegate() = default;
};

/// The spoken state of a list element, as its cell's title reads it out. A download reads
/// "(downloading N%)" with N the fraction as a whole percentage from 0 to 100.
std::string listStateAccessibilityText(const ListElementState& state);

/// One filter list of the main screen: name, rule count, description, the enable switch and the
/// round download button. It draws its list element's download and enable state whenever the
/// element tells it or "listElementProgressUpdate" is posted, and hands switch flips to the
/// element. Made only from the storyboard's "ListCell" prototype. Main thread only.
class ListCell : public uikit::UITableViewCell, public ListElementCellDelegate {
 public:
  static constexpr const char* kReuseIdentifier = "ListCell";
  static constexpr const char* kProgressUpdateNotification = "listElementProgressUpdate";

  /// What the archive calls: an empty cell that observes "listElementProgressUpdate".
  static std::shared_ptr<ListCell> createFromArchive();
  std::string className() const override { return "ListCell"; }

  std::weak_ptr<uikit::UIImageView> iconImageView;
  std::weak_ptr<uikit::UIActivityIndicatorView> iconSpinner;
  std::weak_ptr<uikit::UILabel> titleLabel;
  std::weak_ptr<uikit::UILabel> countLabel;
  std::weak_ptr<uikit::UILabel> descLabel;
  std::weak_ptr<uikit::UISwitch> enabledSwitch;
  std::weak_ptr<ActivityIndicatorButton> downloadButton;
  std::weak_ptr<ListElement> list;
  std::optional<std::int64_t> tableRow;
  std::weak_ptr<ListCellDelegate> delegate;

  /// Connects the switch and draws the button as an outline.
  void awakeFromNib() override;
  /// No icon and a running icon spinner until the new row's icon arrives.
  void prepareForReuse() override;
  /// Fills the labels from the list element, becomes its cell and draws its state. Does nothing
  /// without a list element.
  void configure();
  void listElementProgressUpdate() override;
  /// Draws the element's state: the switch for a downloaded list, the button (with its progress
  /// ring or spinner) otherwise, and the spoken state. Does nothing without a list element.
  void progressUpdate();
  /// The switch's value-changed action: enables or disables the list as the switch now shows.
  void switchFlipped();
  /// Flips the switch and the list together; only for a downloaded list (a spoken double tap).
  void toggleSwitch();
  /// Makes the cell one spoken button whose title tells the list's name and state.
  void updateAppearance();

 private:
  ListCell() : UITableViewCell(kReuseIdentifier) {}
  void setEnabled(bool enabled);
};

/// One promoted app of the main screen: its icon and name, with a spinner of its own for a
/// store sheet being loaded. Made from the storyboard's "AppCell" prototype.
class AppCell : public uikit::UITableViewCell {
 public:
  static constexpr const char* kReuseIdentifier = "AppCell";
  AppCell();
  std::string className() const override { return "AppCell"; }

  std::weak_ptr<uikit::UIImageView> appImageView;
  std::weak_ptr<uikit::UIActivityIndicatorView> appSpinner;
  std::weak_ptr<uikit::UILabel> appTextLabel;
  /// The gray spinner startSpinner() shows at the cell's trailing edge.
  const std::shared_ptr<uikit::UIActivityIndicatorView> spinner;

  /// Rounds and outlines the icon.
  void awakeFromNib() override;
  void prepareForReuse() override;
  /// Shows `spinner` 15 points inside the trailing edge, centred vertically, and starts it.
  void startSpinner();
};

/// Registers the cells with the archive class registry.
void registerCellArchiveClasses();

}  // namespace fendrel
