#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/dispatch/MainRunLoop.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/uikit/Accessibility.h"
#include "platform/uikit/Application.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/CollectionView.h"
#include "platform/uikit/Event.h"
#include "platform/uikit/EventDriver.h"
#include "platform/uikit/GestureRecognizer.h"
#include "platform/uikit/PageControl.h"
#include "platform/uikit/ScrollView.h"
#include "platform/uikit/Switch.h"
#include "platform/uikit/TableView.h"
#include "platform/uikit/TextField.h"
#include "testing/ScopedManualClock.h"

namespace uikit {
namespace {

struct Events {
  std::vector<unsigned> seen;
  void listen(UIControl& control, const std::shared_ptr<Events>& self, unsigned events) {
    for (unsigned bit = 1; bit && bit <= events; bit <<= 1)
      if (events & bit)
        control.addTarget<Events>(self, "e" + std::to_string(bit), bit,
                                  [bit](Events& e, UIControl&) { e.seen.push_back(bit); });
  }
};

class InputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UIApplication::shared().reset();
    window->makeKeyAndVisible();
  }
  void TearDown() override { UIApplication::shared().reset(); }
  testing_support::ScopedManualClock clock;
  std::shared_ptr<UIWindow> window = UIWindow::create({0, 0, 390, 844});
  std::shared_ptr<Events> events = std::make_shared<Events>();
  UIEventDriver& driver = UIEventDriver::shared();
};

TEST_F(InputTest, SettersSendNothingAndInputSendsUserEvents) {
  auto toggle = std::make_shared<UISwitch>();
  toggle->setFrame({10, 10, 51, 31});
  auto field = std::make_shared<UITextField>();
  field->setFrame({10, 60, 200, 30});
  auto pages = std::make_shared<UIPageControl>();
  pages->setFrame({10, 100, 200, 30});
  pages->setNumberOfPages(3);
  for (auto v : std::vector<std::shared_ptr<UIView>>{toggle, field, pages}) window->addSubview(v);
  events->listen(*toggle, events, UIControlEventValueChanged);
  events->listen(*field, events, UIControlEventEditingChanged | UIControlEventEditingDidBegin);
  events->listen(*pages, events, UIControlEventValueChanged);

  toggle->setOn(true, true);
  field->setText("typed by code");
  pages->setCurrentPage(2);
  EXPECT_TRUE(events->seen.empty());
  EXPECT_EQ(pages->currentPage(), 2);
  pages->setCurrentPage(7);
  EXPECT_EQ(pages->currentPage(), 2) << "clamped to the last page";

  driver.tap(*toggle);
  EXPECT_FALSE(toggle->isOn());
  driver.tap({20, 115});  // the left half: one page back
  EXPECT_EQ(pages->currentPage(), 1);
  driver.tap(*field);
  EXPECT_TRUE(field->isEditing());
  field->setText("");
  driver.typeText("ab");
  EXPECT_EQ(field->text(), "ab");
  EXPECT_EQ(events->seen, (std::vector<unsigned>{UIControlEventValueChanged, UIControlEventValueChanged,
                                                  UIControlEventEditingDidBegin, UIControlEventEditingChanged}));
}

struct PanLog {
  std::vector<UIGestureRecognizerState> states;
  CGPoint translation, velocity;
};

TEST_F(InputTest, PanBeginsAfterTenPointsAndTakesTheTouchFromTheControl) {
  auto card = UIView::create({0, 200, 390, 200});
  auto button = UIButton::create({20, 20, 100, 44});
  card->addSubview(button);
  window->addSubview(card);
  events->listen(*button, events, UIControlEventTouchUpInside | UIControlEventTouchCancel);
  auto pan = std::make_shared<UIPanGestureRecognizer>();
  auto log = std::make_shared<PanLog>();
  pan->addTarget<PanLog>(log, "panned:", [card](PanLog& l, UIGestureRecognizer& r) {
    auto& p = static_cast<UIPanGestureRecognizer&>(r);
    l.states.push_back(p.state());
    l.translation = p.translationInView(card.get());
    l.velocity = p.velocityInView(card.get());
  });
  card->addGestureRecognizer(pan);

  driver.touchDown({50, 240});
  clock->advance(0.1);
  driver.touchMove({50, 249});
  EXPECT_TRUE(log->states.empty()) << "9 points is not yet a pan";
  clock->advance(0.1);
  driver.touchMove({50, 260});
  clock->advance(0.1);
  driver.touchUp({50, 290});
  EXPECT_EQ(log->states, (std::vector<UIGestureRecognizerState>{UIGestureRecognizerState::Began,
                                                                UIGestureRecognizerState::Ended}));
  EXPECT_EQ(log->translation, (CGPoint{0, 50}));
  EXPECT_NEAR(log->velocity.y, 300, 1e-6) << "30 points in the last 0.1 s";
  EXPECT_EQ(events->seen, std::vector<unsigned>{UIControlEventTouchCancel});

  // The driver sets exact values for threshold tests.
  log->states.clear();
  pan->drive(UIGestureRecognizerState::Ended, {0, 120}, {0, 751}, {50, 360});
  EXPECT_EQ(log->states, std::vector<UIGestureRecognizerState>{UIGestureRecognizerState::Ended});
  EXPECT_EQ(log->velocity, (CGPoint{0, 751}));
  EXPECT_EQ(log->translation, (CGPoint{0, 120}));
}

// Actions sent while a touch is delivered carry its event: the one touch, the view it began on
// and its phase at that moment. An action sent by code carries none.
TEST_F(InputTest, ActionsSentDuringATouchCarryItsEvent) {
  auto card = UIView::create({0, 200, 390, 200});
  auto button = UIButton::create({20, 20, 100, 44});
  button->setTitle("Buy", UIControlStateNormal);
  card->addSubview(button);
  window->addSubview(card);
  struct Seen {
    unsigned event;
    std::optional<UITouchPhase> phase;
    const UIView* view = nullptr;
    bool operator==(const Seen&) const = default;
  };
  auto seen = std::make_shared<std::vector<Seen>>();
  for (unsigned e : {UIControlEventTouchDown, UIControlEventTouchUpInside, UIControlEventTouchCancel})
    button->addTarget<std::vector<Seen>>(seen, "e" + std::to_string(e), e, [e](std::vector<Seen>& s, UIControl&) {
      UIEvent* event = UIEventDelivery::current();
      if (!event || event->allTouches().size() != 1) return s.push_back({e, std::nullopt});
      const auto& touch = event->allTouches().front();
      s.push_back({e, touch->phase(), touch->view().get()});
    });
  auto pan = std::make_shared<UIPanGestureRecognizer>();
  card->addGestureRecognizer(pan);

  driver.tap(*button);  // on the title, which takes no touches: the touch's view is the button
  driver.touchDown({50, 240});
  driver.touchMove({50, 300});  // the pan takes the touch: the button sees it cancelled
  driver.touchUp({50, 300});
  button->sendActionsForControlEvents(UIControlEventTouchUpInside);
  const std::vector<Seen> expected = {
      {UIControlEventTouchDown, UITouchPhase::Began, button.get()},
      {UIControlEventTouchUpInside, UITouchPhase::Ended, button.get()},
      {UIControlEventTouchDown, UITouchPhase::Began, button.get()},
      {UIControlEventTouchCancel, UITouchPhase::Cancelled, button.get()},
      {UIControlEventTouchUpInside, std::nullopt},
  };
  EXPECT_EQ(*seen, expected);
  EXPECT_EQ(UIEventDelivery::current(), nullptr);
}

TEST_F(InputTest, TapRecogniserFiresUnlessAControlTookTheTouch) {
  auto view = UIView::create({0, 0, 390, 400});
  auto button = UIButton::create({0, 0, 100, 44});
  view->addSubview(button);
  window->addSubview(view);
  auto tap = std::make_shared<UITapGestureRecognizer>();
  auto count = std::make_shared<int>(0);
  tap->addTarget<int>(count, "tapped:", [](int& n, UIGestureRecognizer&) { n++; });
  view->addGestureRecognizer(tap);
  driver.tap({200, 200});
  EXPECT_EQ(*count, 1);
  driver.tap({50, 20});
  EXPECT_EQ(*count, 1);
  driver.drag({{200, 200}, {200, 260}}, 0.1);
  EXPECT_EQ(*count, 1) << "a touch that travels is no tap";
}

struct ScrollLog : UIScrollViewDelegate {
  std::vector<std::string> calls;
  void scrollViewWillBeginDragging(UIScrollView&) override { calls.push_back("willBeginDragging"); }
  void scrollViewDidEndDecelerating(UIScrollView&) override { calls.push_back("didEndDecelerating"); }
};

TEST_F(InputTest, PagingScrollViewSettlesOnThePageTheDragWentTowards) {
  auto scroll = std::make_shared<UIScrollView>();
  scroll->setFrame({0, 0, 390, 600});
  scroll->contentSize = {390 * 3, 600};
  scroll->pagingEnabled = true;
  auto delegate = std::make_shared<ScrollLog>();
  scroll->delegate = delegate;
  window->addSubview(scroll);
  driver.drag({{300, 300}, {250, 300}, {200, 300}}, 0.2);
  EXPECT_EQ(scroll->contentOffset(), (CGPoint{390, 0}));
  driver.drag({{100, 300}, {300, 300}, {500, 300}}, 0.2);
  EXPECT_EQ(scroll->contentOffset(), (CGPoint{0, 0}));
  driver.drag({{100, 300}, {300, 300}}, 0.2);
  EXPECT_EQ(scroll->contentOffset(), (CGPoint{0, 0})) << "no page before the first";
  EXPECT_EQ(delegate->calls.front(), "willBeginDragging");
  EXPECT_EQ(delegate->calls.back(), "didEndDecelerating");
  scroll->flashScrollIndicators();
  EXPECT_EQ(scroll->indicatorFlashes, 1);
}

struct Rows : UITableViewDataSource, UITableViewDelegate {
  std::vector<NSIndexPath> selected;
  long numberOfSectionsInTableView(UITableView&) override { return 2; }
  long numberOfRowsInSection(UITableView&, long section) override { return section == 0 ? 2 : 3; }
  std::shared_ptr<UITableViewCell> cellForRowAtIndexPath(UITableView& t, const NSIndexPath& p) override {
    return t.dequeueReusableCell("Cell", p);
  }
  std::optional<std::string> titleForHeaderInSection(UITableView&, long s) override {
    return s == 1 ? std::optional<std::string>("Second") : std::nullopt;
  }
  double heightForRowAtIndexPath(UITableView&, const NSIndexPath& p) override { return p.section == 0 ? 60 : -1; }
  void didSelectRowAtIndexPath(UITableView&, const NSIndexPath& p) override { selected.push_back(p); }
};

TEST_F(InputTest, TableSectionsHeightsAndSelectionByTap) {
  auto table = std::make_shared<UITableView>();
  table->setFrame({0, 0, 390, 844});
  auto rows = std::make_shared<Rows>();
  table->dataSource = rows;
  table->tableDelegate = rows;
  EXPECT_EQ(table->dequeueReusableCell("Cell", {0, 0}), nullptr) << "unregistered identifiers give nothing";
  table->registerCell("Cell", [] { return std::make_shared<UITableViewCell>(); });
  window->addSubview(table);
  table->reloadData();
  EXPECT_EQ(table->numberOfSections(), 2);
  EXPECT_EQ(table->headerTitle(1), "Second");
  EXPECT_EQ(table->headerTitle(0), std::nullopt);
  // The titled section has a 28-point header view above its rows; the untitled one has none.
  EXPECT_EQ(table->headerViewForSection(0), nullptr);
  auto header = std::dynamic_pointer_cast<UITableViewHeaderFooterView>(table->headerViewForSection(1));
  ASSERT_NE(header, nullptr);
  EXPECT_EQ(header->superview(), table);
  EXPECT_EQ(header->frame(), (CGRect{0, 120, 390, 28}));
  EXPECT_EQ(header->textLabel()->text(), "Second");
  EXPECT_EQ(table->rectForRowAtIndexPath({1, 1}), (CGRect{0, 60 + 60 + 28 + 44, 390, 44}));
  EXPECT_EQ(table->contentSize.height, 60 + 60 + 28 + 3 * 44);
  driver.tap({100, 130});
  EXPECT_TRUE(rows->selected.empty()) << "a header is not a row";
  driver.tap({100, 60 + 60 + 28 + 44 + 10});
  EXPECT_EQ(rows->selected, (std::vector<NSIndexPath>{NSIndexPath{1, 1}}));
  EXPECT_TRUE(table->cellForRowAtIndexPath({1, 1})->isSelected());
  table->deselectRowAtIndexPath({1, 1}, true);
  EXPECT_FALSE(table->indexPathForSelectedRow());
}

// Section 0 heads with the delegate's own 40-point view, section 1 has its title suppressed by
// a zero height, section 2 keeps its titled header.
struct HeadedRows : UITableViewDataSource, UITableViewDelegate {
  std::shared_ptr<UIView> banner = UIView::create({});
  long numberOfSectionsInTableView(UITableView&) override { return 3; }
  long numberOfRowsInSection(UITableView&, long) override { return 4; }
  std::shared_ptr<UITableViewCell> cellForRowAtIndexPath(UITableView& t, const NSIndexPath& p) override {
    return t.dequeueReusableCell("Cell", p);
  }
  std::optional<std::string> titleForHeaderInSection(UITableView&, long s) override { return "Section " + std::to_string(s); }
  std::shared_ptr<UIView> viewForHeaderInSection(UITableView&, long s) override { return s == 0 ? banner : nullptr; }
  double heightForHeaderInSection(UITableView&, long s) override { return s == 0 ? 40 : s == 1 ? 0 : -1; }
};

TEST_F(InputTest, TableHeaderViewsTakeTheirHeightsAndLeaveWhenScrolledAway) {
  auto table = std::make_shared<UITableView>();
  table->setFrame({0, 0, 390, 300});
  auto rows = std::make_shared<HeadedRows>();
  table->dataSource = rows;
  table->tableDelegate = rows;
  table->registerCell("Cell", [] { return std::make_shared<UITableViewCell>(); });
  window->addSubview(table);
  table->reloadData();
  EXPECT_EQ(table->headerViewForSection(0), rows->banner);
  EXPECT_EQ(rows->banner->frame(), (CGRect{0, 0, 390, 40}));
  EXPECT_EQ(table->headerViewForSection(1), nullptr) << "a zero height shows no header";
  EXPECT_EQ(table->rectForHeaderInSection(2), (CGRect{0, 40 + 4 * 44 + 4 * 44, 390, 28}));
  EXPECT_EQ(table->rectForRowAtIndexPath({2, 0}), (CGRect{0, 40 + 8 * 44 + 28, 390, 44}));
  EXPECT_EQ(table->headerViewForSection(2)->superview(), nullptr) << "below the visible rows";

  table->setContentOffset({0, 300});
  table->layoutIfNeeded();
  EXPECT_EQ(rows->banner->superview(), nullptr) << "scrolled away";
  EXPECT_EQ(table->headerViewForSection(2)->superview(), table);
  EXPECT_EQ(table->headerViewForSection(2)->frame(), table->rectForHeaderInSection(2));
}

// Section 0 has a footer title below its rows; the others have none.
struct FootedRows : UITableViewDataSource {
  long numberOfSectionsInTableView(UITableView&) override { return 2; }
  long numberOfRowsInSection(UITableView&, long) override { return 2; }
  std::shared_ptr<UITableViewCell> cellForRowAtIndexPath(UITableView& t, const NSIndexPath& p) override {
    return t.dequeueReusableCell("Cell", p);
  }
  std::optional<std::string> titleForHeaderInSection(UITableView&, long s) override { return "Section " + std::to_string(s); }
  std::optional<std::string> titleForFooterInSection(UITableView&, long s) override {
    return s == 0 ? std::optional<std::string>("Updated today") : std::nullopt;
  }
};

TEST_F(InputTest, TableFooterTitlesShowBelowTheirSectionsRows) {
  auto table = std::make_shared<UITableView>();
  table->setFrame({0, 0, 390, 844});
  auto rows = std::make_shared<FootedRows>();
  table->dataSource = rows;
  table->registerCell("Cell", [] { return std::make_shared<UITableViewCell>(); });
  window->addSubview(table);
  table->reloadData();
  auto footer = std::dynamic_pointer_cast<UITableViewHeaderFooterView>(table->footerViewForSection(0));
  ASSERT_NE(footer, nullptr);
  EXPECT_EQ(footer->textLabel()->text(), "Updated today");
  EXPECT_EQ(footer->superview(), table);
  EXPECT_EQ(footer->frame(), (CGRect{0, 28 + 2 * 44, 390, 28}));
  EXPECT_EQ(table->footerViewForSection(1), nullptr);
  EXPECT_EQ(table->footerTitle(1), std::nullopt);
  // The next section starts below the footer, and the content holds it.
  EXPECT_EQ(table->rectForHeaderInSection(1), (CGRect{0, 28 + 2 * 44 + 28, 390, 28}));
  EXPECT_EQ(table->rectForRowAtIndexPath({1, 0}), (CGRect{0, 28 + 2 * 44 + 28 + 28, 390, 44}));
  EXPECT_EQ(table->contentSize.height, 2 * 28 + 4 * 44 + 28);
}

class CountingItem : public UICollectionViewCell {
 public:
  int prepared = 0;
  void prepareForReuse() override { prepared++; }
};

struct Items : UICollectionViewDataSource {
  long numberOfItemsInSection(UICollectionView&, long) override { return 40; }
  std::shared_ptr<UICollectionViewCell> cellForItemAtIndexPath(UICollectionView& v, const NSIndexPath& p) override {
    return v.dequeueReusableCell("Item", p);
  }
};

TEST_F(InputTest, CollectionViewReusesItemsThatScrollAway) {
  auto grid = std::make_shared<UICollectionView>();
  grid->setFrame({0, 0, 170, 120});  // three 50-point items per row, two rows in view
  auto items = std::make_shared<Items>();
  grid->dataSource = items;
  grid->registerCell("Item", [] { return std::make_shared<CountingItem>(); });
  grid->reloadData();
  EXPECT_EQ(grid->indexPathsForVisibleItems().size(), 6u);
  EXPECT_EQ(grid->frameForItem({0, 4}), (CGRect{60, 60, 50, 50}));
  grid->setContentOffset({0, 120});
  grid->layoutIfNeeded();
  int prepared = 0;
  for (auto& p : grid->indexPathsForVisibleItems())
    prepared += std::static_pointer_cast<CountingItem>(grid->cellForItemAtIndexPath(p))->prepared;
  EXPECT_EQ(prepared, 6);
}

// A table or collection given a data source shows its rows at its first layout without a
// reload; later changes still wait for one.
TEST_F(InputTest, TablesAndCollectionsLoadTheirDataAtTheFirstLayout) {
  auto table = std::make_shared<UITableView>();
  table->setFrame({0, 0, 390, 844});
  auto rows = std::make_shared<Rows>();
  table->dataSource = rows;
  table->registerCell("Cell", [] { return std::make_shared<UITableViewCell>(); });
  window->addSubview(table);
  table->layoutIfNeeded();
  EXPECT_EQ(table->numberOfSections(), 2);
  EXPECT_NE(table->cellForRowAtIndexPath({1, 2}), nullptr);

  auto grid = std::make_shared<UICollectionView>();
  grid->setFrame({0, 0, 170, 120});
  auto items = std::make_shared<Items>();
  grid->dataSource = items;
  grid->registerCell("Item", [] { return std::make_shared<CountingItem>(); });
  window->addSubview(grid);
  grid->layoutIfNeeded();
  EXPECT_EQ(grid->indexPathsForVisibleItems().size(), 6u);
}

TEST_F(InputTest, KeyboardNotificationsCarryTheirUserInfo) {
  std::optional<CGRect> end;
  std::optional<double> duration;
  bool mistyped = false;
  auto token = foundation::NotificationCenter::defaultCenter().addObserver(
      UIKeyboardWillShowNotification, nullptr, [&](const foundation::Notification& n) {
        end = unboxRect(n.userInfo[UIKeyboardFrameEndUserInfoKey]);
        duration = n.userInfo[UIKeyboardAnimationDurationUserInfoKey].asDouble();
        mistyped = !unboxRect(n.userInfo[UIKeyboardAnimationDurationUserInfoKey]);
      });
  driver.postKeyboardNotification(UIKeyboardWillShowNotification,
                                  UIEventDriver::keyboardUserInfo({0, 500, 390, 344}, 0.25, 7));
  foundation::NotificationCenter::defaultCenter().removeObserver(token);
  EXPECT_EQ(end, (CGRect{0, 500, 390, 344}));
  EXPECT_EQ(duration, 0.25);
  EXPECT_TRUE(mistyped) << "a number is not a rectangle";
}

TEST_F(InputTest, AccessibilityLogFrameAnimationAndScenes) {
  UIAccessibility::log().clear();
  UIAccessibility::post(UIAccessibilityNotification::Announcement, "Downloaded");
  UIAccessibility::post(UIAccessibilityNotification::LayoutChanged);
  ASSERT_EQ(UIAccessibility::log().size(), 2u);
  EXPECT_EQ(UIAccessibility::log()[0].argument, "Downloaded");
  UIAccessibility::setVoiceOverRunning(true);
  EXPECT_TRUE(UIAccessibility::isVoiceOverRunning());
  UIAccessibility::setVoiceOverRunning(false);

  auto imageView = std::make_shared<UIImageView>();
  auto a = UIImage::create({10, 10}), b = UIImage::create({10, 10}), still = UIImage::create({10, 10});
  imageView->setImage(still);
  imageView->animationImages = {a, b};
  imageView->animationDuration = 0.2;
  imageView->animationRepeatCount = 2;
  imageView->startAnimating();
  EXPECT_EQ(imageView->displayedImage(), a);
  clock->advance(0.1);
  EXPECT_EQ(imageView->displayedImage(), b);
  clock->advance(0.1);
  EXPECT_EQ(imageView->displayedImage(), a);
  clock->advance(0.2);
  EXPECT_FALSE(imageView->isAnimating()) << "two cycles ran";
  EXPECT_EQ(imageView->displayedImage(), still);

  auto scene = UIWindowScene::create(UISceneActivationState::ForegroundInactive);
  UIApplication::shared().connectScene(scene);
  auto sceneWindow = UIWindow::create();
  sceneWindow->setWindowScene(scene);
  EXPECT_EQ(sceneWindow->frame(), scene->coordinateSpaceBounds);
  EXPECT_EQ(scene->windows(), std::vector<std::shared_ptr<UIWindow>>{sceneWindow});
  sceneWindow.reset();
  EXPECT_TRUE(scene->windows().empty()) << "a scene does not keep its windows";
}

// Editing a field: each step is a key or typed text, with the text and the selection after it
// (bytes; "é" is two, the emoji four).
TEST_F(InputTest, TextFieldEditsAtTheCaretAndTheSelection) {
  struct Step {
    const char* name;
    std::optional<UIKey> key;
    std::string typed;
    std::string text;
    UITextRange selection;
  };
  const Step steps[] = {
      {"typing", std::nullopt, "cafe", "cafe", {4, 0}},
      {"backspace", UIKey::Backspace, "", "caf", {3, 0}},
      {"two-byte letter", std::nullopt, "é🙂", "café🙂", {9, 0}},
      {"backspace takes a whole emoji", UIKey::Backspace, "", "café", {5, 0}},
      {"left over a two-byte letter", UIKey::Left, "", "café", {3, 0}},
      {"typing inside", std::nullopt, "X", "cafXé", {4, 0}},
      {"delete forward", UIKey::Delete, "", "cafX", {4, 0}},
      {"home", UIKey::Home, "", "cafX", {0, 0}},
      {"backspace at the start", UIKey::Backspace, "", "cafX", {0, 0}},
      {"select all", UIKey::SelectAll, "", "cafX", {0, 4}},
      {"typing replaces the selection", std::nullopt, "new", "new", {3, 0}},
      {"select all, right collapses to the end", UIKey::SelectAll, "", "new", {0, 3}},
  };
  auto field = std::make_shared<UITextField>();
  field->setFrame({10, 60, 200, 30});
  window->addSubview(field);
  events->listen(*field, events, UIControlEventEditingChanged);
  driver.tap(*field);
  ASSERT_TRUE(field->isEditing());
  for (const auto& step : steps) {
    SCOPED_TRACE(step.name);
    if (step.key) EXPECT_TRUE(driver.pressKey(*step.key));
    else driver.typeText(step.typed);
    EXPECT_EQ(field->text(), step.text);
    EXPECT_EQ(field->selectedRange(), step.selection);
  }
  driver.pressKey(UIKey::Right);
  EXPECT_EQ(field->selectedRange(), (UITextRange{3, 0}));
  // Only changes of the text are sent: 7 of the steps changed it.
  EXPECT_EQ(events->seen.size(), 7u);

  // A selection set by code never splits a character.
  field->setText("é🙂");
  field->setSelectedRange({1, 3});
  EXPECT_EQ(field->selectedRange(), (UITextRange{0, 6}));
  field->setSelectedRange({100, 5});
  EXPECT_EQ(field->selectedRange(), (UITextRange{6, 0}));

  // Return submits; Escape ends editing; with no field editing, keys are not taken.
  events->listen(*field, events, UIControlEventEditingDidEndOnExit);
  EXPECT_TRUE(driver.pressKey(UIKey::Return));
  EXPECT_EQ(events->seen.back(), UIControlEventEditingDidEndOnExit);
  EXPECT_TRUE(driver.pressKey(UIKey::Escape));
  EXPECT_FALSE(field->isEditing());
  EXPECT_FALSE(driver.pressKey(UIKey::Backspace));
  EXPECT_EQ(field->text(), "é🙂");
}

}  // namespace
}  // namespace uikit
