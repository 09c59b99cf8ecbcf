#include <gtest/gtest.h>

#include <functional>

#include "platform/uikit/Log.h"
#include "platform/uikit/ScrollView.h"
#include "platform/uikit/UIKitError.h"
#include "platform/uikit/View.h"
#include "platform/uikit/Window.h"

namespace uikit {
namespace {

std::shared_ptr<UIView> constrainedChild(const std::shared_ptr<UIView>& parent) {
  auto child = std::make_shared<UIView>();
  child->setTranslatesAutoresizingMaskIntoConstraints(false);
  parent->addSubview(child);
  return child;
}

/// A view with a fixed natural size.
class SizedView : public UIView {
 public:
  explicit SizedView(CGSize size) : size_(size) {}
  CGSize intrinsicContentSize() const override { return size_; }
  void setSize(CGSize size) {
    size_ = size;
    invalidateIntrinsicContentSize();
  }

 private:
  CGSize size_;
};

TEST(LayoutTests, HigherPriorityInequalityBeatsLowerPriorityPin) {
  // A message pinned to the bottom at 200 is lifted above a keyboard by a 250 inequality.
  auto container = UIView::create({0, 0, 390, 800});
  auto message = constrainedChild(container);
  NSLayoutConstraint::activateConstraints({
      message->leadingAnchor().constraintEqualTo(container->leadingAnchor()),
      message->trailingAnchor().constraintEqualTo(container->trailingAnchor()),
      message->heightAnchor().constraintEqualToConstant(100),
  });
  auto pin = message->bottomAnchor().constraintEqualTo(container->bottomAnchor());
  pin->setPriority(200);
  pin->setActive(true);
  auto lift = message->bottomAnchor().constraintLessThanOrEqualTo(container->topAnchor(), 500);
  lift->setPriority(250);
  lift->setActive(true);
  container->layoutIfNeeded();
  EXPECT_EQ(message->frame(), CGRect(0, 400, 390, 100));

  lift->setPriority(150);
  container->layoutIfNeeded();
  EXPECT_EQ(message->frame(), CGRect(0, 700, 390, 100));
}

TEST(LayoutTests, WidthCappedCardIsCentredWhenWideAndSpansMarginsWhenNarrow) {
  struct Case {
    const char* name;
    CGFloat containerWidth;
    CGRect expected;
  };
  const Case cases[] = {
      {"regular", 1024, {262, 8, 500, 84}},
      {"compact", 390, {8, 8, 374, 84}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto container = UIView::create({0, 0, c.containerWidth, 100});
    auto card = constrainedChild(container);
    auto& guide = container->layoutMarginsGuide();
    auto prioritized = [](std::shared_ptr<NSLayoutConstraint> k, UILayoutPriority p) {
      k->setPriority(p);
      return k;
    };
    NSLayoutConstraint::activateConstraints({
        prioritized(card->centerXAnchor().constraintEqualTo(container->centerXAnchor()), 950),
        prioritized(card->topAnchor().constraintEqualTo(guide.topAnchor()), 900),
        prioritized(card->bottomAnchor().constraintEqualTo(guide.bottomAnchor()), 900),
        prioritized(card->leftAnchor().constraintGreaterThanOrEqualTo(guide.leftAnchor()), 900),
        prioritized(card->rightAnchor().constraintLessThanOrEqualTo(guide.rightAnchor()), 900),
        prioritized(card->widthAnchor().constraintLessThanOrEqualToConstant(500), 950),
        prioritized(card->widthAnchor().constraintEqualToConstant(500), 200),
    });
    container->layoutIfNeeded();
    EXPECT_EQ(card->frame(), c.expected);
  }
}

// Views tied to a scroll view's edges are laid out in its content: the trailing and bottom
// edges are the content size's, which follows from them, and scrolling moves nothing.
TEST(LayoutTests, ScrollViewContentIsSizedByItsConstraintsAndStaysPutWhenScrolled) {
  std::vector<std::string> lines;
  auto previous = UIKitLog::setSink([&](const std::string& line) { lines.push_back(line); });
  auto root = UIView::create({0, 0, 100, 50});
  auto scroll = std::make_shared<UIScrollView>();
  scroll->setFrame({0, 0, 100, 50});
  root->addSubview(scroll);
  auto a = UIView::create(), b = UIView::create();
  for (auto& v : {a, b}) {
    v->setTranslatesAutoresizingMaskIntoConstraints(false);
    scroll->addSubview(v);
  }
  std::map<std::string, std::shared_ptr<UIView>> views{{"a", a}, {"b", b}, {"s", scroll}};
  for (const char* format : {"H:|[a(==s)][b(==s)]|", "V:|[a(==s)]|", "V:|[b(==s)]|"})
    scroll->addConstraints(*NSLayoutConstraint::constraintsWithVisualFormat(format, {}, views));
  root->layoutIfNeeded();
  EXPECT_EQ(scroll->contentSize, (CGSize{200, 50}));
  scroll->setContentOffset({70, 0});
  root->setNeedsLayout();
  root->layoutIfNeeded();
  EXPECT_EQ(a->frame(), (CGRect{0, 0, 100, 50}));
  EXPECT_EQ(b->frame(), (CGRect{100, 0, 100, 50}));
  EXPECT_TRUE(lines.empty()) << lines.front();
  UIKitLog::setSink(std::move(previous));
}

TEST(LayoutTests, VisualFormatPlacesViewsBetweenEdges) {
  struct Case {
    const char* name;
    const char* format;
    CGRect expected;
  };
  const Case cases[] = {
      {"given spacing", "H:|-(4)-[bg]-(4)-|", {4, 0, 36, 10}},
      {"metric spacing", "H:|-(PAD)-[bg]-(PAD)-|", {9, 0, 26, 10}},
      {"bare metric and vertical", "V:|-PAD-[bg]-PAD-|", {0, 9, 10, 26}},
      {"flush and size", "H:|[bg(==20)]", {0, 0, 20, 10}},
      {"standard spacing to the edge", "H:|-[bg]-|", {20, 0, 4, 10}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto view = UIView::create({0, 0, 44, 44});
    auto bg = constrainedChild(view);
    // The other axis is fixed so the frame is fully determined.
    bool vertical = std::string(c.format).rfind("V:", 0) == 0;
    view->addConstraints({vertical ? bg->leftAnchor().constraintEqualTo(view->leftAnchor())
                                   : bg->topAnchor().constraintEqualTo(view->topAnchor()),
                          vertical ? bg->widthAnchor().constraintEqualToConstant(10)
                                   : bg->heightAnchor().constraintEqualToConstant(10)});
    auto constraints = NSLayoutConstraint::constraintsWithVisualFormat(c.format, {{"PAD", 9.0}}, {{"bg", bg}});
    ASSERT_TRUE(constraints.ok()) << constraints.error().localizedDescription();
    view->addConstraints(*constraints);
    view->layoutIfNeeded();
    EXPECT_EQ(bg->frame(), c.expected);
  }
}

TEST(LayoutTests, VisualFormatErrorsNameTheProblem) {
  auto view = UIView::create({0, 0, 44, 44});
  auto bg = constrainedChild(view);
  auto orphan = std::make_shared<UIView>();
  struct Case {
    const char* format;
    std::shared_ptr<UIView> view;
    UIKitError code;
  };
  const Case cases[] = {
      {"H:|-(4)-[nope]-|", bg, UIKitError::VisualFormatUnknownView},
      {"H:|-(WIDE)-[bg]", bg, UIKitError::VisualFormatUnknownMetric},
      {"H:|-(4-[bg]", bg, UIKitError::VisualFormatSyntax},
      {"H:|-(4)-", bg, UIKitError::VisualFormatSyntax},
      {"H:|-[bg]", orphan, UIKitError::VisualFormatSyntax},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.format);
    auto result = NSLayoutConstraint::constraintsWithVisualFormat(c.format, {}, {{"bg", c.view}});
    ASSERT_FALSE(result.ok());
    EXPECT_TRUE(result.error().is(kUIKitErrorDomain, static_cast<std::int64_t>(c.code)));
  }
}

TEST(LayoutTests, ConflictingRequiredConstraintIsLoggedAndDemoted) {
  struct Case {
    const char* name;
    std::function<std::shared_ptr<NSLayoutConstraint>(UIView& child)> conflicting;
    CGFloat widthAlone;  // once the constraint it fights is gone
  };
  const Case cases[] = {
      {"equality", [](UIView& c) { return c.widthAnchor().constraintEqualToConstant(60); }, 60},
      {"inequality", [](UIView& c) { return c.widthAnchor().constraintGreaterThanOrEqualToConstant(45); }, 45},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> lines;
    auto previous = UIKitLog::setSink([&](const std::string& line) { lines.push_back(line); });
    auto view = UIView::create({0, 0, 100, 100});
    auto child = constrainedChild(view);
    auto fixed = child->widthAnchor().constraintEqualToConstant(30);
    view->addConstraints({child->leftAnchor().constraintEqualTo(view->leftAnchor()),
                          child->topAnchor().constraintEqualTo(view->topAnchor()),
                          child->heightAnchor().constraintEqualToConstant(10), fixed});
    auto conflicting = c.conflicting(*child);
    view->addConstraint(conflicting);
    view->layoutIfNeeded();
    UIKitLog::setSink(std::move(previous));

    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("Unable to simultaneously satisfy constraints"), std::string::npos);
    EXPECT_TRUE(conflicting->isDemoted());
    EXPECT_EQ(child->frame(), CGRect(0, 0, 30, 10));
    // Once the other side of the conflict goes, the demoted constraint rejoins as required.
    view->removeConstraint(fixed);
    view->removeConstraint(conflicting);
    view->addConstraint(conflicting);
    view->layoutIfNeeded();
    EXPECT_FALSE(conflicting->isDemoted());
    EXPECT_EQ(child->frame().size.width, c.widthAlone);
  }
}

TEST(LayoutTests, IntrinsicSizeYieldsByHuggingAndCompressionPriorities) {
  struct Case {
    const char* name;
    CGFloat slotWidth;  // the space the two labels share
    UILayoutPriority leftHugging, rightHugging, leftCompression, rightCompression;
    CGFloat leftWidth, rightWidth;
  };
  const Case cases[] = {
      {"extra space goes to the one that hugs less", 200, 251, 250, 750, 750, 50, 150},
      {"extra space, other way round", 200, 250, 251, 750, 750, 150, 50},
      {"too little space squeezes the one that resists less", 80, 250, 250, 750, 751, 30, 50},
      {"just enough space", 100, 250, 250, 750, 750, 50, 50},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto row = UIView::create({0, 0, c.slotWidth, 20});
    auto left = std::make_shared<SizedView>(CGSize{50, 20});
    auto right = std::make_shared<SizedView>(CGSize{50, 20});
    for (auto& v : {left, right}) {
      v->setTranslatesAutoresizingMaskIntoConstraints(false);
      row->addSubview(v);
    }
    left->setContentHuggingPriority(c.leftHugging, UILayoutConstraintAxis::Horizontal);
    right->setContentHuggingPriority(c.rightHugging, UILayoutConstraintAxis::Horizontal);
    left->setContentCompressionResistancePriority(c.leftCompression, UILayoutConstraintAxis::Horizontal);
    right->setContentCompressionResistancePriority(c.rightCompression, UILayoutConstraintAxis::Horizontal);
    auto h = NSLayoutConstraint::constraintsWithVisualFormat("H:|[l][r]|", {}, {{"l", left}, {"r", right}});
    ASSERT_TRUE(h.ok());
    row->addConstraints(*h);
    row->addConstraints({left->topAnchor().constraintEqualTo(row->topAnchor()),
                         right->topAnchor().constraintEqualTo(row->topAnchor())});
    row->layoutIfNeeded();
    EXPECT_EQ(left->frame().size, (CGSize{c.leftWidth, 20}));
    EXPECT_EQ(right->frame().size, (CGSize{c.rightWidth, 20}));
  }
}

TEST(LayoutTests, PassesCallLayoutSubviewsTopDownOnlyForChangedOrMarkedViews) {
  struct Recorder : UIView {
    std::vector<std::string>* log = nullptr;
    std::string name;
    void layoutSubviews() override {
      UIView::layoutSubviews();
      log->push_back(name + " " + std::to_string(static_cast<int>(bounds().size.width)));
    }
  };
  std::vector<std::string> log;
  auto window = UIWindow::create({0, 0, 300, 100});
  auto make = [&](const std::string& name) {
    auto v = std::make_shared<Recorder>();
    v->log = &log;
    v->name = name;
    v->setTranslatesAutoresizingMaskIntoConstraints(false);
    return v;
  };
  auto outer = make("outer"), inner = make("inner"), untouched = make("untouched");
  window->addSubview(outer);
  outer->addSubview(inner);
  outer->addSubview(untouched);
  auto width = outer->widthAnchor().constraintEqualToConstant(200);
  NSLayoutConstraint::activateConstraints({
      outer->leftAnchor().constraintEqualTo(window->leftAnchor()),
      outer->topAnchor().constraintEqualTo(window->topAnchor()),
      width,
      outer->heightAnchor().constraintEqualToConstant(50),
      inner->leftAnchor().constraintEqualTo(outer->leftAnchor()),
      inner->topAnchor().constraintEqualTo(outer->topAnchor()),
      inner->widthAnchor().constraintEqualTo(outer->widthAnchor(), 0.5, 0),
      inner->heightAnchor().constraintEqualToConstant(10),
      untouched->leftAnchor().constraintEqualTo(outer->leftAnchor()),
      untouched->topAnchor().constraintEqualTo(outer->topAnchor()),
      untouched->widthAnchor().constraintEqualToConstant(10),
      untouched->heightAnchor().constraintEqualToConstant(10),
  });
  window->layoutIfNeeded();
  EXPECT_EQ(log, (std::vector<std::string>{"outer 200", "inner 100", "untouched 10"}));

  log.clear();
  width->setConstant(240);
  window->layoutIfNeeded();
  EXPECT_EQ(log, (std::vector<std::string>{"outer 240", "inner 120"}));

  log.clear();
  window->layoutIfNeeded();
  EXPECT_TRUE(log.empty());
}

TEST(LayoutTests, RemovingASubtreeDeactivatesConstraintsThatCrossIt) {
  auto root = UIView::create({0, 0, 100, 100});
  auto a = constrainedChild(root);
  auto inside = constrainedChild(a);
  auto crossing = inside->widthAnchor().constraintEqualTo(root->widthAnchor());
  auto internal = inside->heightAnchor().constraintEqualTo(a->heightAnchor());
  NSLayoutConstraint::activateConstraints({crossing, internal});
  EXPECT_EQ(crossing->owner(), root.get());
  EXPECT_EQ(internal->owner(), a.get());
  a->removeFromSuperview();
  EXPECT_FALSE(crossing->isActive());
  EXPECT_TRUE(internal->isActive());
}

}  // namespace
}  // namespace uikit

namespace uikit {
namespace {

TEST(LayoutTests, TreesWithConstraintsTearDownInAnyOrder) {
  // A subview kept alive past its tree, and a constraint kept past its views, stay safe to use.
  std::shared_ptr<UIView> survivor;
  std::shared_ptr<NSLayoutConstraint> kept;
  {
    auto root = UIView::create({0, 0, 100, 100});
    auto middle = constrainedChild(root);
    survivor = constrainedChild(middle);
    kept = survivor->widthAnchor().constraintEqualTo(middle->widthAnchor());
    NSLayoutConstraint::activateConstraints({kept, survivor->heightAnchor().constraintEqualTo(root->heightAnchor()),
                                             middle->widthAnchor().constraintEqualToConstant(50)});
    root->layoutIfNeeded();
    EXPECT_EQ(survivor->frame().size, (CGSize{50, 100}));
  }
  EXPECT_FALSE(kept->isActive());
  EXPECT_TRUE(survivor->referencingConstraints().empty());
  kept->setActive(true);  // its other view is gone: nothing happens
  EXPECT_FALSE(kept->isActive());
  survivor->layoutIfNeeded();
}

}  // namespace
}  // namespace uikit

#include "platform/dispatch/MainRunLoop.h"
#include "platform/uikit/Label.h"

namespace uikit {
namespace {

TEST(LayoutTests, LabelsTakeTheirSizeFromTheInstalledMeasurer) {
  struct Case {
    const char* name;
    std::string text;
    int lines;
    CGFloat wrapWidth;
    CGSize expected;
    NSTextAlignment alignment = NSTextAlignment::Natural;
  };
  // The deterministic measurer: 0.5 × 20 = 10 points a character, 24 points a line.
  const Case cases[] = {
      {"one line", "Filters", 1, 0, {70, 24}},
      {"characters, not bytes", "caf\xC3\xA9", 1, 0, {40, 24}},
      {"wrapped", "abcdefghij", 0, 40, {40, 72}},
      {"wrapped and cut", "abcdefghij", 2, 40, {40, 48}},
      {"explicit breaks", "ab\nabcd", 0, 0, {40, 48}},
      {"empty", "", 1, 0, {0, 0}},
      // Alignment moves text inside the label; it never changes the label's size.
      {"centred", "Filters", 1, 0, {70, 24}, NSTextAlignment::Center},
      {"right, wrapped", "abcdefghij", 0, 40, {40, 72}, NSTextAlignment::Right},
      {"justified, wrapped", "abcdefghij", 0, 40, {40, 72}, NSTextAlignment::Justified},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto label = std::make_shared<UILabel>();
    label->setFont(UIFont::systemFont(20));
    label->setNumberOfLines(c.lines);
    label->setPreferredMaxLayoutWidth(c.wrapWidth);
    label->setText(c.text);
    label->textAlignment = c.alignment;
    EXPECT_EQ(label->intrinsicContentSize(), c.expected);
  }

  struct Fixed : TextMeasurer {
    CGSize measure(std::string_view, const UIFont&, CGFloat, int) const override { return {33, 11}; }
  };
  TextMeasurer::setCurrent(std::make_shared<Fixed>());
  auto root = UIView::create({0, 0, 200, 100});
  auto label = std::make_shared<UILabel>();
  label->setTranslatesAutoresizingMaskIntoConstraints(false);
  root->addSubview(label);
  label->setText("anything");
  root->addConstraints({label->leftAnchor().constraintEqualTo(root->leftAnchor()),
                        label->topAnchor().constraintEqualTo(root->topAnchor())});
  root->layoutIfNeeded();
  TextMeasurer::setCurrent(nullptr);
  EXPECT_EQ(label->frame(), CGRect(0, 0, 33, 11));
  // A new text is measured again at the next pass.
  label->setText("four");
  root->layoutIfNeeded();
  EXPECT_EQ(label->frame(), CGRect(0, 0, 34, 20.4));
}

TEST(LayoutTests, WindowsLayOutOnTheNextMainQueueTurn) {
  dispatch::drainMainQueue();
  auto window = UIWindow::create({0, 0, 100, 100});
  auto child = constrainedChild(window);
  NSLayoutConstraint::activateConstraints({child->leftAnchor().constraintEqualTo(window->leftAnchor(), 10),
                                           child->topAnchor().constraintEqualTo(window->topAnchor()),
                                           child->widthAnchor().constraintEqualToConstant(20),
                                           child->heightAnchor().constraintEqualToConstant(20)});
  EXPECT_EQ(child->frame(), CGRect());
  dispatch::drainMainQueue();
  EXPECT_EQ(child->frame(), CGRect(10, 0, 20, 20));
}

}  // namespace
}  // namespace uikit

namespace uikit {
namespace {

/// A small screen whose layout depends on a frame, an optional constant, a required constant
/// and a label's text; built fresh or changed in place, it must come out the same.
struct Scene {
  std::shared_ptr<UIView> root, panel, badge, spacer;
  std::shared_ptr<UILabel> label;
  std::shared_ptr<NSLayoutConstraint> optionalGap, requiredInset;

  struct Inputs {
    CGRect panelFrame;
    CGFloat gap, inset;
    std::string text;
  };

  explicit Scene(const Inputs& in) {
    root = UIView::create({0, 0, 400, 400});
    panel = UIView::create(in.panelFrame);  // placed by its frame
    root->addSubview(panel);
    label = std::make_shared<UILabel>();
    badge = std::make_shared<UIView>();
    spacer = std::make_shared<UIView>();
    for (auto v : std::vector<std::shared_ptr<UIView>>{label, badge, spacer}) {
      v->setTranslatesAutoresizingMaskIntoConstraints(false);
      panel->addSubview(v);
    }
    optionalGap = badge->leftAnchor().constraintEqualTo(label->rightAnchor(), in.gap);
    optionalGap->setPriority(500);
    requiredInset = label->leftAnchor().constraintEqualTo(panel->leftAnchor(), in.inset);
    NSLayoutConstraint::activateConstraints({
        requiredInset, optionalGap,
        label->topAnchor().constraintEqualTo(panel->topAnchor(), 4),
        badge->centerYAnchor().constraintEqualTo(label->centerYAnchor()),
        badge->widthAnchor().constraintEqualToConstant(10),
        badge->heightAnchor().constraintEqualToConstant(10),
        badge->rightAnchor().constraintLessThanOrEqualTo(panel->rightAnchor(), -4),
        spacer->topAnchor().constraintEqualTo(label->bottomAnchor()),
        spacer->bottomAnchor().constraintEqualTo(panel->bottomAnchor()),
        spacer->leftAnchor().constraintEqualTo(panel->leftAnchor()),
        spacer->rightAnchor().constraintEqualTo(badge->rightAnchor()),
    });
    set(in);
  }
  void set(const Inputs& in) {
    panel->setFrame(in.panelFrame);
    optionalGap->setConstant(in.gap);
    requiredInset->setConstant(in.inset);
    label->setText(in.text);
    root->layoutIfNeeded();
  }
  std::vector<CGRect> frames() const { return {label->frame(), badge->frame(), spacer->frame()}; }
};

TEST(LayoutTests, ChangesInPlaceGiveTheSameLayoutAsAFreshSolve) {
  const Scene::Inputs steps[] = {
      {{10, 10, 200, 100}, 8, 4, "Hello"},
      {{10, 10, 200, 100}, 20, 4, "Hello"},          // optional constant
      {{30, 50, 260, 120}, 20, 4, "Hello"},          // frame moved and resized
      {{30, 50, 260, 120}, 20, 12, "Hello"},         // required constant
      {{30, 50, 260, 120}, 20, 12, "A longer text"},  // intrinsic size
      {{30, 50, 120, 60}, 0, 0, "A much longer text that overflows"},
      {{0, 0, 200, 100}, 8, 4, ""},
  };
  Scene changing(steps[0]);
  for (const auto& step : steps) {
    SCOPED_TRACE(step.text + " gap " + std::to_string(step.gap));
    changing.set(step);
    Scene fresh(step);
    EXPECT_EQ(changing.frames(), fresh.frames());
  }
}

}  // namespace
}  // namespace uikit

namespace uikit {
namespace {

TEST(LayoutTests, ValuesThatAreNotNumbersDoNotReachTheSolver) {
  std::vector<std::string> lines;
  auto previous = UIKitLog::setSink([&](const std::string& line) { lines.push_back(line); });
  auto root = UIView::create({0, 0, 100, 100});
  auto frameView = UIView::create({NAN, 0, INFINITY, 10});
  root->addSubview(frameView);
  auto inside = constrainedChild(frameView);
  auto child = std::make_shared<SizedView>(CGSize{NAN, 12});
  child->setTranslatesAutoresizingMaskIntoConstraints(false);
  root->addSubview(child);
  auto bad = child->leftAnchor().constraintEqualTo(root->leftAnchor(), NAN);
  NSLayoutConstraint::activateConstraints({bad, child->leftAnchor().constraintEqualTo(root->leftAnchor(), 5),
                                           child->topAnchor().constraintEqualTo(root->topAnchor()),
                                           child->widthAnchor().constraintEqualToConstant(20),
                                           inside->leftAnchor().constraintEqualTo(frameView->leftAnchor()),
                                           inside->topAnchor().constraintEqualTo(frameView->topAnchor()),
                                           inside->widthAnchor().constraintEqualToConstant(3),
                                           inside->heightAnchor().constraintEqualToConstant(4)});
  root->layoutIfNeeded();
  UIKitLog::setSink(std::move(previous));
  EXPECT_EQ(child->frame(), CGRect(5, 0, 20, 12));
  EXPECT_EQ(inside->frame(), CGRect(0, 0, 3, 4));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("non-finite"), std::string::npos);
}

}  // namespace
}  // namespace uikit
