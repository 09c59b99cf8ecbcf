#include "platform/uikit/detail/SheetViews.h"

#include <algorithm>

#include "platform/uikit/SystemSheets.h"

namespace uikit::detail {

namespace {
constexpr double kAlertWidth = 270;
constexpr double kSheetMaxWidth = 420;
constexpr double kMargin = 8;
constexpr double kPadding = 16;
constexpr double kAlertRow = 44;
constexpr double kSheetRow = 57;
constexpr double kCornerRadius = 13;

UIColor cardColor() {
  return UIColor::dynamic([](const UITraitCollection& traits) {
    return traits.userInterfaceStyle == UIUserInterfaceStyle::Dark ? UIColor::white(0.17) : UIColor::white(0.98);
  });
}

UIColor separatorColor() { return UIColor(0.24, 0.24, 0.26, 0.29); }

std::shared_ptr<UIView> makeCard() {
  auto card = UIView::create();
  card->setBackgroundColor(cardColor());
  card->layer()->setCornerRadius(kCornerRadius);
  card->setClipsToBounds(true);
  return card;
}

std::shared_ptr<UILabel> makeLabel(const std::string& text, UIFont font) {
  auto label = std::make_shared<UILabel>();
  label->setText(text);
  label->setFont(font);
  label->setNumberOfLines(0);
  label->textAlignment = NSTextAlignment::Center;
  label->textColor = UIColor::labelColor();
  return label;
}

/// Height a label needs at `width`; none for an absent one.
double heightOf(const std::shared_ptr<UILabel>& label, double width) {
  return label ? label->sizeThatFits({width, 0}).height : 0;
}
}  // namespace

std::shared_ptr<AlertSheetView> AlertSheetView::create(const std::optional<std::string>& title,
                                                       const std::optional<std::string>& message,
                                                       const std::vector<UIAlertAction>& actions,
                                                       UIAlertControllerStyle style) {
  auto view = std::make_shared<AlertSheetView>();
  view->sheet_ = style == UIAlertControllerStyle::ActionSheet;
  // The backdrop dims the window and takes every touch, so nothing below answers while it shows.
  view->setBackgroundColor(UIColor(0, 0, 0, 0.4));
  view->card_ = makeCard();
  view->addSubview(view->card_);
  const double titleSize = view->sheet_ ? 13 : 17;
  if (title && !title->empty()) {
    view->title_ = makeLabel(*title, UIFont::boldSystemFont(titleSize));
    view->card_->addSubview(view->title_);
  }
  if (message && !message->empty()) {
    view->message_ = makeLabel(*message, UIFont::systemFont(13));
    view->card_->addSubview(view->message_);
  }
  for (std::size_t i = 0; i < actions.size(); ++i) {
    const auto& action = actions[i];
    const bool cancel = action.style == UIAlertActionStyle::Cancel;
    Row row;
    row.cancelCard = cancel && view->sheet_;
    if (row.cancelCard && !view->cancelCard_) {
      view->cancelCard_ = makeCard();
      view->addSubview(view->cancelCard_);
    }
    auto& holder = row.cancelCard ? view->cancelCard_ : view->card_;
    row.button = UIButton::create();
    const double size = view->sheet_ ? 20 : 17;
    // The font comes first: the title label takes its size when the title is set.
    row.button->titleLabel()->setFont(cancel ? UIFont::boldSystemFont(size) : UIFont::systemFont(size));
    row.button->setTitle(action.title, UIControlStateNormal);
    row.button->setTitleColor(action.style == UIAlertActionStyle::Destructive ? UIColor(1, 0.23, 0.19, 1)
                                                                             : UIColor::systemBlueColor(),
                              UIControlStateNormal);
    row.button->addTarget<AlertSheetView>(view, "chooseAction:", UIControlEventTouchUpInside,
                                          [i](AlertSheetView& sheet, UIControl&) {
                                            if (sheet.choose) sheet.choose(i);
                                          });
    row.separator = UIView::create();
    row.separator->setBackgroundColor(separatorColor());
    holder->addSubview(row.separator);
    holder->addSubview(row.button);
    view->rows_.push_back(std::move(row));
  }
  return view;
}

std::shared_ptr<UIButton> AlertSheetView::buttonForAction(std::size_t index) const {
  return index < rows_.size() ? rows_[index].button : nullptr;
}

void AlertSheetView::layoutSubviews() {
  UIView::layoutSubviews();
  const CGRect b = bounds();
  const UIEdgeInsets safe = safeAreaInsets();
  const double width = sheet_ ? std::min(kSheetMaxWidth, b.width() - 2 * kMargin) : std::min(kAlertWidth, b.width() - 40);
  const double textWidth = std::max(0.0, width - 2 * kPadding);
  const double row = sheet_ ? kSheetRow : kAlertRow;
  // The header: title and message, padded; none when both are missing.
  double y = 0;
  const double titleHeight = heightOf(title_, textWidth), messageHeight = heightOf(message_, textWidth);
  if (title_ || message_) {
    y = kPadding;
    if (title_) title_->setFrame({kPadding, y, textWidth, titleHeight});
    y += titleHeight + (title_ && message_ ? 4 : 0);
    if (message_) message_->setFrame({kPadding, y, textWidth, messageHeight});
    y += messageHeight + kPadding;
  }
  double cancelY = 0;
  bool firstInCard = y == 0, firstInCancel = true;
  for (auto& r : rows_) {
    double& at = r.cancelCard ? cancelY : y;
    bool& first = r.cancelCard ? firstInCancel : firstInCard;
    // Rows are parted by hairlines; the first row of a card without a header needs none.
    r.separator->setHidden(first);
    r.separator->setFrame({0, at, width, 0.5});
    r.button->setFrame({0, at, width, row});
    at += row;
    first = false;
  }
  const double x = b.minX() + (b.width() - width) / 2;
  if (sheet_) {
    double bottom = b.maxY() - std::max(kMargin, safe.bottom);
    if (cancelCard_) {
      cancelCard_->setFrame({x, bottom - cancelY, width, cancelY});
      bottom -= cancelY + kMargin;
    }
    card_->setFrame({x, bottom - y, width, y});
  } else {
    card_->setFrame({x, b.minY() + (b.height() - y) / 2, width, y});
  }
}

bool AlertSheetView::handleUnclaimedTap(UIView& origin) {
  // Only a tap on the backdrop itself leaves an action sheet; taps on a card's text do nothing.
  if (&origin != this || !sheet_) return &origin == this;
  if (dismiss) dismiss();
  return true;
}

std::shared_ptr<PageSheetView> PageSheetView::create() {
  auto view = std::make_shared<PageSheetView>();
  view->setBackgroundColor(cardColor());
  view->layer()->setCornerRadius(10);
  view->done_ = UIButton::create();
  view->done_->titleLabel()->setFont(UIFont::boldSystemFont(17));
  view->done_->setTitle("Done", UIControlStateNormal);
  view->done_->setTitleColor(UIColor::systemBlueColor(), UIControlStateNormal);
  view->done_->addTarget<PageSheetView>(view, "done:", UIControlEventTouchUpInside, [](PageSheetView& sheet, UIControl&) {
    if (sheet.done) sheet.done();
  });
  view->icon_ = UIView::create();
  view->icon_->setBackgroundColor(UIColor::systemBlueColor());
  view->icon_->layer()->setCornerRadius(22);
  view->initial_ = makeLabel("", UIFont::boldSystemFont(48));
  view->initial_->textColor = UIColor::whiteColor();
  view->icon_->addSubview(view->initial_);
  view->name_ = makeLabel("", UIFont::boldSystemFont(24));
  view->detail_ = makeLabel("", UIFont::systemFont(15));
  view->detail_->textColor = UIColor::grayColor();
  for (const auto& v : std::initializer_list<std::shared_ptr<UIView>>{view->done_, view->icon_, view->name_, view->detail_})
    view->addSubview(v);
  return view;
}

void PageSheetView::show(const std::string& name, const std::string& detail) {
  name_->setText(name);
  detail_->setText(detail);
  // The icon shows the name's first character (a whole UTF-8 sequence).
  std::size_t length = name.empty() ? 0 : 1;
  while (length < name.size() && (static_cast<unsigned char>(name[length]) & 0xC0) == 0x80) ++length;
  initial_->setText(name.substr(0, length));
  setNeedsLayout();
}

void PageSheetView::layoutSubviews() {
  UIView::layoutSubviews();
  const CGRect b = bounds();
  done_->setFrame({b.maxX() - 80, b.minY() + 8, 72, 44});
  constexpr double kIcon = 100;
  icon_->setFrame({b.minX() + (b.width() - kIcon) / 2, b.minY() + 80, kIcon, kIcon});
  initial_->setFrame({0, 0, kIcon, kIcon});
  const double width = std::max(0.0, b.width() - 2 * kPadding);
  double y = b.minY() + 80 + kIcon + 20;
  const double nameHeight = heightOf(name_, width);
  name_->setFrame({b.minX() + kPadding, y, width, nameHeight});
  y += nameHeight + 6;
  detail_->setFrame({b.minX() + kPadding, y, width, heightOf(detail_, width)});
}

}  // namespace uikit::detail
