#include <gtest/gtest.h>

#include "platform/uikit/Control.h"

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

}  // namespace
}  // namespace uikit
