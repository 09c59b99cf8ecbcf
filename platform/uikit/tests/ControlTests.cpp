#include <gtest/gtest.h>

#include "platform/uikit/Button.h"
#include "platform/uikit/Control.h"
#include "platform/uikit/Label.h"

namespace uikit {
namespace {

struct Target {
  std::vector<std::string> calls;
};

TEST(ControlTests, ActionsAreKeyedByTargetAndSelector) {
  auto control = std::make_shared<UIControl>();
  auto a = std::make_shared<Target>(), b = std::make_shared<Target>();
  auto record = [](const char* name) {
    return std::function<void(Target&, UIControl&)>([name](Target& t, UIControl&) { t.calls.push_back(name); });
  };
  control->addTarget(a, "tapped:", UIControlEventTouchUpInside, record("a.tapped"));
  control->addTarget(a, "pressed:", UIControlEventTouchDown, record("a.pressed"));
  control->addTarget(b, "tapped:", UIControlEventTouchUpInside | UIControlEventValueChanged, record("b.tapped"));

  control->sendActionsForControlEvents(UIControlEventTouchUpInside);
  EXPECT_EQ(a->calls, std::vector<std::string>{"a.tapped"});
  EXPECT_EQ(b->calls, std::vector<std::string>{"b.tapped"});
  EXPECT_EQ(control->actionsForTarget(a.get(), UIControlEventTouchDown), std::vector<std::string>{"pressed:"});
  EXPECT_EQ(control->allControlEvents(),
            UIControlEventTouchUpInside | UIControlEventTouchDown | UIControlEventValueChanged);

  // Removing one selector of one target for one event leaves everything else.
  control->removeTarget(a.get(), "tapped:", UIControlEventTouchUpInside);
  control->removeTarget(b.get(), "tapped:", UIControlEventValueChanged);
  a->calls.clear();
  b->calls.clear();
  control->sendActionsForControlEvents(UIControlEventTouchUpInside | UIControlEventTouchDown);
  EXPECT_EQ(a->calls, std::vector<std::string>{"a.pressed"});
  EXPECT_EQ(b->calls, std::vector<std::string>{"b.tapped"});
  EXPECT_EQ(control->targetCount(), 2u);

  // Targets are held weakly: one that is gone is skipped and dropped.
  b.reset();
  control->sendActionsForControlEvents(UIControlEventAllEvents);
  EXPECT_EQ(control->targetCount(), 1u);
  control->removeTarget(nullptr, "", UIControlEventAllEvents);
  EXPECT_EQ(control->targetCount(), 0u);
}

TEST(ControlTests, ButtonShowsItsTitleCentredOnceSet) {
  auto button = UIButton::create({0, 0, 100, 40});
  EXPECT_TRUE(button->subviews().empty());
  button->setTitle("Hide", UIControlStateNormal);
  ASSERT_EQ(button->subviews().size(), 1u);
  auto label = std::dynamic_pointer_cast<UILabel>(button->subviews()[0]);
  ASSERT_TRUE(label);
  EXPECT_EQ(label->text(), "Hide");
  // Resized later (as an archive or a layout pass does), the title stays in the middle.
  button->setFrame({0, 0, 200, 60});
  button->layoutIfNeeded();
  auto frame = label->frame();
  EXPECT_DOUBLE_EQ(frame.origin.x + frame.size.width / 2, 100);
  EXPECT_DOUBLE_EQ(frame.origin.y + frame.size.height / 2, 30);

  button->setImage(UIImage::create({10, 10}), UIControlStateNormal);
  EXPECT_EQ(button->subviews().size(), 2u);
}

TEST(ControlTests, ButtonTitleWithoutItsOwnColourFollowsTheInheritedTint) {
  auto button = UIButton::create({0, 0, 100, 40});
  button->setTitle("Add", UIControlStateNormal);
  auto label = std::dynamic_pointer_cast<UILabel>(button->subviews()[0]);
  ASSERT_TRUE(label);
  EXPECT_EQ(label->textColor, UIColor::systemBlueColor());

  // Placed in a tinted bar, then the bar's tint changes: the title follows both times.
  auto bar = std::make_shared<UIView>();
  bar->setTintColor(UIColor::whiteColor());
  bar->addSubview(button);
  EXPECT_EQ(label->textColor, UIColor::whiteColor());
  bar->setTintColor(UIColor::redColor());
  EXPECT_EQ(label->textColor, UIColor::redColor());

  // A colour of its own wins over the tint.
  button->setTitleColor(UIColor::blackColor(), UIControlStateNormal);
  bar->setTintColor(UIColor::whiteColor());
  EXPECT_EQ(label->textColor, UIColor::blackColor());
}

}  // namespace
}  // namespace uikit
