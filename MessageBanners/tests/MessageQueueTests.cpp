#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "MessageBanners/BannerMessageModifier.h"
#include "MessageBanners/MessageBanners.h"
#include "MessageBanners/MessageView.h"
#include "MessageBanners/PhysicsAnimation.h"
#include "MessageBanners/TopBottomAnimation.h"
#include "MessageBanners/WindowViewController.h"
#include "MessageBanners/tests/BannerTestSupport.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/MainRunLoop.h"
#include "platform/uikit/Animation.h"
#include "platform/uikit/GestureRecognizer.h"
#include "testing/ScopedManualClock.h"

namespace MessageBanners {
namespace {

using testing_support::CardMessage;
using State = uikit::UIGestureRecognizerState;
using Timeline = std::vector<std::pair<std::string, double>>;

const char* kindName(Event::Kind kind) {
  switch (kind) {
    case Event::Kind::WillShow: return "willShow";
    case Event::Kind::DidShow: return "didShow";
    case Event::Kind::WillHide: return "willHide";
    case Event::Kind::DidHide: return "didHide";
  }
  return "";
}

class MessageQueueTests : public ::testing::Test {
 protected:
  void SetUp() override { dispatch::drainMainQueue(); }
  void TearDown() override {
    manager_.reset();
    settle();
  }

  double now() const { return dispatch::Clock::current().uptime(); }
  /// A configuration whose events are logged as "<name> <event>" with the time.
  Config logged(const std::string& name, Config config = Config()) {
    config.eventListeners.push_back([this, name](const Event& e) { log_.push_back({name + " " + kindName(e.kind), now()}); });
    return config;
  }
  /// Runs the main queue and the manager's queue until neither has work that is due.
  void settle() {
    for (int i = 0; i < 50; ++i) {
      if (manager_) (void)manager_->count("");
      if (dispatch::drainMainQueue() == 0) {
        if (manager_) (void)manager_->count("");
        if (dispatch::drainMainQueue() == 0) return;
      }
    }
  }
  /// Moves the clock to `end` in 10-ms steps. Each step lands a hair later than the last (1e-8 s
  /// per step), so a deadline computed from the time of an earlier step is never missed by
  /// rounding; times are compared to 1e-4 s.
  void runUntil(double end) {
    settle();
    while (now() < end - 1e-6) {
      ++step_;
      clock_->advance(step_ * 0.01 + step_ * 1e-8 - now());
      settle();
    }
  }
  void expectTimeline(const Timeline& expected) {
    ASSERT_EQ(log_.size(), expected.size()) << describe();
    for (std::size_t i = 0; i < expected.size(); ++i) {
      EXPECT_EQ(log_[i].first, expected[i].first) << describe();
      EXPECT_NEAR(log_[i].second, expected[i].second, 1e-4) << log_[i].first;
    }
  }
  std::vector<std::string> names() const {
    std::vector<std::string> out;
    for (const auto& [name, t] : log_) out.push_back(name);
    return out;
  }
  std::string describe() const {
    std::string out;
    for (const auto& [name, t] : log_) out += name + " @" + std::to_string(t) + "\n";
    return out;
  }
  /// Message windows still on screen.
  int messageWindows() const {
    int n = 0;
    for (const auto& w : uikit::UIApplication::shared().windows()) {
      if (std::dynamic_pointer_cast<WindowViewController>(w->rootViewController())) ++n;
    }
    return n;
  }

  ::testing_support::ScopedManualClock clock_;
  testing_support::TestApp app_;
  std::shared_ptr<MessageBanners> manager_ = MessageBanners::create();
  std::vector<std::pair<std::string, double>> log_;
  int step_ = 0;
};

// The library's own layouts, shown through the queue with the default configuration and no size
// given by the app: each takes a height that fits its text, moves in from above, and keeps the
// queue's timeline.
TEST_F(MessageQueueTests, LibraryLayoutsSizeThemselvesAnimateInAndKeepTheTimeline) {
  using Layout = MessageView::Layout;
  const std::string body = "A body long enough to need a second line in every layout that shows one, and a third";
  for (auto layout : {Layout::CardView, Layout::TabView, Layout::StatusLine, Layout::CenteredView, Layout::MessageView}) {
    SCOPED_TRACE(MessageView::rawValue(layout));
    log_.clear();
    auto make = [&](const std::string& title) {
      auto view = MessageView::viewFromNib(layout);
      // Layouts without a title tell messages apart by their body.
      view->configureContent(title, title + ": " + body);
      return view;
    };
    auto a = make("A title"), b = make("B title");
    Config shortB = logged("B");
    shortB.duration = Duration::seconds(1);
    const double start = now();
    manager_->show(logged("A"), a);
    manager_->show(shortB, b);
    auto offset = [&] { return std::get<uikit::CATransform3D>(a->layer()->presentationValue("transform", now())).affine().ty; };

    runUntil(start + 0.1);
    EXPECT_GT(a->frame().height(), 0);
    EXPECT_LT(offset(), -a->frame().height() / 4) << "not coming in from above";
    runUntil(start + 1.0);
    EXPECT_NEAR(offset(), 0, 1);
    const double height = a->bounds().height();
    EXPECT_GT(height, 0);
    for (const auto& label : {a->titleLabel(), a->bodyLabel()}) {
      if (!label || label->isHidden() || label->text().empty()) continue;
      // Every line the text needs at the label's width is inside the label, and the label inside
      // the message.
      EXPECT_LE(label->sizeThatFits({label->bounds().width(), 0}).height, label->bounds().height() + 0.5) << label->text();
      const auto bottom = label->convertPointToView({0, label->bounds().height()}, a.get());
      EXPECT_LE(bottom.y, height + 0.5) << label->text();
    }

    runUntil(start + 6);
    Timeline expected{{"A willShow", 0.0}, {"A didShow", 0.4}, {"A willHide", 2.4}, {"A didHide", 2.6},
                      {"B willShow", 3.1}, {"B didShow", 3.5}, {"B willHide", 4.5}, {"B didHide", 4.7}};
    for (auto& [name, t] : expected) t += start;
    expectTimeline(expected);
  }
}

TEST_F(MessageQueueTests, DefaultQueueShowsOneAfterAnotherOnTheExactTimeline) {
  Config b = logged("B");
  b.duration = Duration::seconds(1);
  manager_->show(logged("A"), CardMessage::create("a"));
  manager_->show(b, CardMessage::create("b"));
  runUntil(6);
  expectTimeline({{"A willShow", 0.0}, {"A didShow", 0.4}, {"A willHide", 2.4}, {"A didHide", 2.6},
                  {"B willShow", 3.1}, {"B didShow", 3.5}, {"B willHide", 4.5}, {"B didHide", 4.7}});
  EXPECT_EQ(messageWindows(), 0);
  EXPECT_FALSE(manager_->current());
}

TEST_F(MessageQueueTests, DuplicatesAreDroppedAndCounted) {
  Config forever = logged("X");
  forever.duration = Duration::forever();
  manager_->show(forever, CardMessage::create("x"));
  runUntil(0.5);
  manager_->show(forever, CardMessage::create("x"));
  EXPECT_EQ(manager_->count("x"), 2);
  EXPECT_FALSE(manager_->queued("x"));
  manager_->hideCounted("x");
  EXPECT_EQ(manager_->count("x"), 1);
  runUntil(1.5);
  EXPECT_TRUE(manager_->current("x"));
  manager_->hideCounted("x");
  EXPECT_EQ(manager_->count("x"), 0);
  runUntil(2.5);
  EXPECT_EQ(names(), (std::vector<std::string>{"X willShow", "X didShow", "X willHide", "X didHide"}));

  // Without duplicate checks the same identity queues any number of times and is not counted.
  forever.ignoreDuplicates = false;
  for (int i = 0; i < 3; ++i) manager_->show(forever, CardMessage::create("y"));
  EXPECT_EQ(manager_->count("y"), 0);
  runUntil(3.5);
  EXPECT_TRUE(manager_->current<CardMessage>("y"));
  EXPECT_TRUE(manager_->queued<CardMessage>("y"));
  manager_->setCount(5, "y");  // no entry: nothing happens
  EXPECT_EQ(manager_->count("y"), 0);
}

TEST_F(MessageQueueTests, SameIdentityHandedInWhileTheCurrentHidesIsQueued) {
  manager_->show(logged("A"), CardMessage::create("a"));
  runUntil(2.5);  // hiding from 2.4 to 2.6
  manager_->show(logged("A2"), CardMessage::create("a"));
  EXPECT_TRUE(manager_->queued("a"));
  runUntil(3.2);
  EXPECT_EQ(log_.back().first, "A2 willShow");
  EXPECT_NEAR(log_.back().second, 3.1, 1e-4);
}

TEST_F(MessageQueueTests, IndefiniteMessagesWaitTheirDelayAndStayTheirMinimum) {
  Config indefinite = logged("I");
  indefinite.duration = Duration::indefinite(1, 2);
  manager_->show(indefinite, CardMessage::create("i"));
  EXPECT_FALSE(manager_->queued("i"));  // still waiting for its delay
  runUntil(0.9);
  EXPECT_TRUE(log_.empty());
  runUntil(1.5);
  manager_->hide(true);
  runUntil(5);
  // Shown at 1.0, asked to hide at 1.5: the hide waits for the 2-second minimum.
  expectTimeline({{"I willShow", 1.0}, {"I didShow", 1.4}, {"I willHide", 3.0}, {"I didHide", 3.2}});

  // Hidden by identity during its delay: never shown.
  log_.clear();
  manager_->show(indefinite, CardMessage::create("j"));
  runUntil(5.5);
  manager_->hide(std::string("j"));
  runUntil(8);
  EXPECT_TRUE(log_.empty());
}

TEST_F(MessageQueueTests, RepeatedHideRequestsHideOnce) {
  Config indefinite = logged("I");
  indefinite.duration = Duration::indefinite(0, 2);
  manager_->show(indefinite, CardMessage::create("i"));
  runUntil(0.5);
  manager_->hide(true);
  manager_->hide(std::string("i"));
  manager_->hide(true);
  runUntil(4);
  EXPECT_EQ(names(), (std::vector<std::string>{"I willShow", "I didShow", "I willHide", "I didHide"}));
}

TEST_F(MessageQueueTests, HideAllClearsTheQueueAndNothingFollows) {
  manager_->show(logged("A"), CardMessage::create("a"));
  manager_->show(logged("B"), CardMessage::create("b"));
  Config delayed = logged("C");
  delayed.duration = Duration::indefinite(1, 0);
  manager_->show(delayed, CardMessage::create("c"));
  runUntil(0.5);
  manager_->hideAll();
  runUntil(5);
  expectTimeline({{"A willShow", 0.0}, {"A didShow", 0.4}, {"A willHide", 0.5}, {"A didHide", 0.7}});
  EXPECT_EQ(manager_->count("a"), 0);
}

TEST_F(MessageQueueTests, FailedShowDropsTheMessageAndItsCountAndTheQueueMovesOn) {
  uikit::UIApplication::shared().reset();  // no key window
  manager_->show(logged("A"), CardMessage::create("a"));
  manager_->show(logged("B"), CardMessage::create("b"));
  EXPECT_EQ(manager_->count("a"), 1);
  runUntil(0.1);
  EXPECT_TRUE(log_.empty());
  EXPECT_EQ(manager_->count("a"), 0);
  // The next hand-in moves B up, which fails the same way; a message in a window of its own
  // needs no key window and shows once the pause after A has passed.
  Config own = logged("W");
  own.presentationContext = PresentationContext::window(UIWindowLevelNormal);
  manager_->show(own, CardMessage::create("w"));
  runUntil(1.2);
  EXPECT_EQ(manager_->count("b"), 0);
  ASSERT_EQ(names(), (std::vector<std::string>{"W willShow", "W didShow"}));
  EXPECT_NEAR(log_[0].second, 0.5, 1e-4);
}

TEST_F(MessageQueueTests, PanHoldsTheAutoHideAndReleaseStartsTheFullDurationAgain) {
  manager_->show(logged("A"), CardMessage::create("a"));
  runUntil(1.0);
  auto message = manager_->current<CardMessage>();
  ASSERT_TRUE(message);
  auto pan = std::dynamic_pointer_cast<uikit::UIPanGestureRecognizer>(message->backgroundView()->gestureRecognizers().at(0));
  ASSERT_TRUE(pan);
  pan->drive(State::Began, {0, 0}, {0, 0}, {195, 50});
  pan->drive(State::Changed, {0, -10}, {0, -20}, {195, 40});
  runUntil(1.2);
  pan->drive(State::Ended, {0, -10}, {0, -20}, {195, 40});
  runUntil(5);
  // Spring-back ends at 1.6; the full two seconds run from there.
  expectTimeline({{"A willShow", 0.0}, {"A didShow", 0.4}, {"A willHide", 3.6}, {"A didHide", 3.8}});
}

TEST_F(MessageQueueTests, SwipeOrThrowHidesAnIndefiniteMessageAtOnce) {
  struct Case {
    const char* name;
    PresentationStyle style;
  };
  for (const auto& c : {Case{"swipe up", PresentationStyle::top()}, Case{"throw", PresentationStyle::center()}}) {
    SCOPED_TRACE(c.name);
    log_.clear();
    Config config = logged("I");
    config.presentationStyle = c.style;
    config.duration = Duration::indefinite(0, 30);
    manager_->show(config, CardMessage::create(c.name));
    runUntil(now() + 1);
    auto message = manager_->current<CardMessage>();
    ASSERT_TRUE(message);
    auto pan = std::dynamic_pointer_cast<uikit::UIPanGestureRecognizer>(message->backgroundView()->gestureRecognizers().at(0));
    const double start = now();
    pan->drive(State::Began, {0, 0}, {0, 0}, {195, 422});
    pan->drive(State::Changed, {0, -60}, {0, -3000}, {195, 362});
    pan->drive(State::Ended, {0, -60}, {0, -3000}, {195, 362});
    runUntil(start + 1.5);
    ASSERT_EQ(names(), (std::vector<std::string>{"I willShow", "I didShow", "I willHide", "I didHide"}));
    EXPECT_LT(log_[2].second - start, 1.0);
    runUntil(now() + 1);
  }
}

TEST_F(MessageQueueTests, DimmedBackgroundsTakeOrPassTaps) {
  auto appButton = uikit::UIView::create({0, 600, 390, 200});
  app_.root->view()->addSubview(appButton);
  struct Case {
    const char* name;
    DimMode dim;
    bool appGetsTap;
    bool tapHides;
  };
  const Case cases[] = {
      {"no dim", DimMode::none(), true, false},
      {"gray, interactive", DimMode::gray(true), false, true},
      {"gray, not interactive", DimMode::gray(false), false, false},
      {"blur, interactive", DimMode::blur(UIBlurEffectStyle::Dark, 1, true), false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    log_.clear();
    Config config = logged("D");
    config.dimMode = c.dim;
    config.duration = Duration::forever();
    config.presentationContext = PresentationContext::window(UIWindowLevelNormal);
    manager_->show(config, CardMessage::create(c.name));
    runUntil(now() + 1);
    auto hit = uikit::UIApplication::shared().hitTest({195, 700});
    EXPECT_EQ(hit == appButton, c.appGetsTap);
    auto message = manager_->current<CardMessage>();
    ASSERT_TRUE(message);
    // The card itself always takes its own taps.
    EXPECT_TRUE(uikit::UIApplication::shared().hitTest({195, 50})->isDescendantOfView(message.get()));
    if (!c.appGetsTap) {
      auto control = std::dynamic_pointer_cast<PassthroughView>(hit);
      ASSERT_TRUE(control);
      control->tapped();
    }
    runUntil(now() + 1);
    EXPECT_EQ(manager_->current() == nullptr, c.tapHides);
    manager_->hideAll();
    runUntil(now() + 1);
    EXPECT_EQ(messageWindows(), 0);
  }
}

TEST_F(MessageQueueTests, AppBannerInItsOwnWindowLeavesTheAppKeyAndGoesAway) {
  Config config = logged("A");
  config.presentationContext = PresentationContext::window(UIWindowLevelNormal);
  manager_->show(config, CardMessage::create("a"));
  runUntil(1);
  EXPECT_EQ(messageWindows(), 1);
  EXPECT_TRUE(app_.window->isKeyWindow());
  // Beside the card (its 20-point side inset) the touch reaches the app.
  EXPECT_EQ(uikit::UIApplication::shared().hitTest({10, 50}), app_.root->view());
  EXPECT_EQ(uikit::UIApplication::shared().hitTest({195, 400}), app_.root->view());
  auto message = manager_->current<CardMessage>();
  EXPECT_EQ(uikit::UIApplication::shared().hitTest({195, 50}), message->backgroundView());
  runUntil(3);
  EXPECT_EQ(messageWindows(), 0);
  EXPECT_TRUE(app_.window->isKeyWindow());
  EXPECT_EQ(uikit::UIApplication::shared().windows().size(), 1u);
}

TEST_F(MessageQueueTests, ReleasedManagerTakesItsMessageAwayAndMakesNoMoreViews) {
  Config forever = logged("A");
  forever.duration = Duration::forever();
  manager_->show(forever, CardMessage::create("a"));
  runUntil(1);
  bool provided = false;
  manager_->show([&] {
    provided = true;
    return std::static_pointer_cast<uikit::UIView>(CardMessage::create("b"));
  });
  manager_.reset();
  runUntil(2);
  EXPECT_FALSE(provided);
  EXPECT_EQ(names(), (std::vector<std::string>{"A willShow", "A didShow", "A willHide", "A didHide"}));
  EXPECT_EQ(messageWindows(), 0);
}

/// A declarative message: a text whose content is an 80-point view.
struct Note {
  struct Content {
    std::shared_ptr<uikit::UIView> makeView() const {
      auto view = uikit::UIView::create();
      view->heightAnchor().constraintEqualToConstant(80)->setActive(true);
      return view;
    }
  };
  std::string text;
  bool operator==(const Note&) const = default;
  std::string id() const { return text; }
  Content content() const { return {}; }
};

struct Screen {
  std::shared_ptr<uikit::UIView> makeView() const { return uikit::UIView::create(); }
};

TEST_F(MessageQueueTests, BoundMessageShowsItsBannerAndIsClearedWhenThatBannerHides) {
  Config config = logged("N");
  auto state = uikit::State<std::optional<Note>>::create(std::nullopt);
  auto screen = bannerMessage(Screen{}, state->binding(), std::nullopt, manager_);
  manager_->setDefaultConfig(config);
  auto view = screen.makeView();

  state->set(Note{"a"});
  runUntil(1);
  EXPECT_TRUE(manager_->current("a"));
  // B is queued behind A; A's hide leaves the binding on B, B's hide clears it.
  state->set(Note{"b"});
  runUntil(3.2);
  EXPECT_EQ(state->value(), Note{"b"});
  EXPECT_TRUE(manager_->current("b"));
  runUntil(6);
  EXPECT_EQ(state->value(), std::nullopt);
  EXPECT_EQ(names(), (std::vector<std::string>{"N willShow", "N didShow", "N willHide", "N didHide", "N willShow",
                                               "N didShow", "N willHide", "N didHide"}));
  // The manager's own configuration did not gain the listener.
  EXPECT_EQ(manager_->defaultConfig().eventListeners.size(), 1u);

  // Clearing the binding does not hide what shows.
  state->set(Note{"c"});
  runUntil(7);
  state->set(std::nullopt);
  runUntil(7.5);
  EXPECT_TRUE(manager_->current("c"));
}

}  // namespace
}  // namespace MessageBanners
