#pragma once
// The views of the system sheets on the desktop: alerts and action sheets drawn as modal sheets
// over the window, and the store's product sheet. Used by SystemSheets.cpp only.

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/uikit/Button.h"

namespace uikit {
class UIAlertController;
struct UIAlertAction;
enum class UIAlertControllerStyle : int;
}  // namespace uikit

namespace uikit::detail {

/// An alert (a card in the middle) or an action sheet (cards at the bottom, the cancel action on
/// its own), over a dimmed backdrop that takes every touch. A button calls `choose` with its
/// action's index; a tap on the backdrop of an action sheet calls `dismiss`.
class AlertSheetView final : public UIView {
 public:
  static std::shared_ptr<AlertSheetView> create(const std::optional<std::string>& title,
                                                const std::optional<std::string>& message,
                                                const std::vector<UIAlertAction>& actions, UIAlertControllerStyle style);
  std::string className() const override { return "_UIAlertSheetView"; }
  std::function<void(std::size_t index)> choose;
  std::function<void()> dismiss;
  /// The card holding the title, the message and every action but an action sheet's cancel.
  const std::shared_ptr<UIView>& card() const { return card_; }
  /// The action's button, by the action's index.
  std::shared_ptr<UIButton> buttonForAction(std::size_t index) const;
  void layoutSubviews() override;
  bool handleUnclaimedTap(UIView& origin) override;

 private:
  struct Row {
    std::shared_ptr<UIButton> button;
    std::shared_ptr<UIView> separator;
    bool cancelCard = false;
  };
  bool sheet_;
  std::shared_ptr<UIView> card_, cancelCard_;
  std::shared_ptr<UILabel> title_, message_;
  std::vector<Row> rows_;
};

/// A page sheet of the system (the store's product sheet, the in-app browser): a Done button, an
/// icon drawn from the headline's first character, the headline and a detail line. Done calls
/// `done`.
class PageSheetView final : public UIView {
 public:
  static std::shared_ptr<PageSheetView> create();
  std::string className() const override { return "_UIPageSheetView"; }
  void show(const std::string& headline, const std::string& detail);
  std::function<void()> done;
  const std::shared_ptr<UIButton>& doneButton() const { return done_; }
  const std::shared_ptr<UILabel>& nameLabel() const { return name_; }
  void layoutSubviews() override;

 private:
  std::shared_ptr<UIButton> done_;
  std::shared_ptr<UIView> icon_;
  std::shared_ptr<UILabel> initial_, name_, detail_;
};

}  // namespace uikit::detail
