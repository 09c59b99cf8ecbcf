#include <gtest/gtest.h>

#include <functional>

#include "MessageBanners/Archiving.h"
#include "MessageBanners/BaseView.h"
#include "MessageBanners/CornerRoundingView.h"
#include "MessageBanners/KeyboardTrackingView.h"
#include "MessageBanners/MaskingView.h"
#include "platform/uikit/Archive.h"

namespace MessageBanners {
namespace {

using uikit::ClassRegistry;

// Sets `property` of a new object of `cls` from `value` as an archive would, and returns it.
std::shared_ptr<uikit::NSObject> madeWith(const std::string& cls, const std::string& property,
                                          const foundation::Value& value) {
  auto object = ClassRegistry::make(cls);
  if (!object) return nullptr;
  const auto* setter = ClassRegistry::property(cls, property);
  if (!setter || !(*setter)(*object, value, uikit::ArchiveContext{})) return nullptr;
  return object;
}

TEST(MessageBannersArchiving, AttributesSetFromArchives) {
  registerArchiveClasses();
  struct Case {
    const char* cls;
    const char* property;
    foundation::Value value;
    std::function<bool(uikit::NSObject&)> holds;
  };
  auto base = [](auto get) {
    return [get](uikit::NSObject& o) { return get(dynamic_cast<BaseView&>(o)); };
  };
  const Case cases[] = {
      {"MessageBanners.BaseView", "topLayoutMarginAddition", 4.0, base([](BaseView& v) { return v.topLayoutMarginAddition == 4; })},
      {"MessageBanners.BaseView", "leftLayoutMarginAddition", 5.0, base([](BaseView& v) { return v.leftLayoutMarginAddition == 5; })},
      {"MessageBanners.BaseView", "bottomLayoutMarginAddition", 6.0, base([](BaseView& v) { return v.bottomLayoutMarginAddition == 6; })},
      {"MessageBanners.BaseView", "rightLayoutMarginAddition", 7.0, base([](BaseView& v) { return v.rightLayoutMarginAddition == 7; })},
      {"MessageBanners.BaseView", "collapseLayoutMarginAdditions", false,
       base([](BaseView& v) { return !v.collapseLayoutMarginAdditions(); })},
      {"MessageBanners.BaseView", "bounceAnimationOffset", 9.0, base([](BaseView& v) { return v.bounceAnimationOffset() == 9; })},
      {"MessageBanners.CornerRoundingView", "cornerRadius", 12.0,
       [](uikit::NSObject& o) { return dynamic_cast<CornerRoundingView&>(o).cornerRadius() == 12; }},
      {"MessageBanners.CornerRoundingView", "roundsLeadingCorners", true,
       [](uikit::NSObject& o) { return dynamic_cast<CornerRoundingView&>(o).roundsLeadingCorners(); }},
      {"MessageBanners.KeyboardTrackingView", "topMargin", 10.0,
       [](uikit::NSObject& o) { return dynamic_cast<KeyboardTrackingView&>(o).topMargin() == 10; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.cls) + "." + c.property);
    auto object = madeWith(c.cls, c.property, c.value);
    ASSERT_TRUE(object);
    EXPECT_TRUE(c.holds(*object));
    // A value of the wrong kind is refused rather than read as something else.
    EXPECT_FALSE(madeWith(c.cls, c.property, "many"));
  }
}

TEST(MessageBannersArchiving, ArchivedViewsAreSetUpLikeMadeOnes) {
  registerArchiveClasses();
  EXPECT_TRUE(ClassRegistry::isKindOf("MessageBanners.MaskingView", "MessageBanners.PassthroughView"));
  auto masking = std::dynamic_pointer_cast<MaskingView>(ClassRegistry::make("MessageBanners.MaskingView"));
  ASSERT_TRUE(masking);
  EXPECT_TRUE(masking->clipsToBounds());
  EXPECT_EQ(masking->actionsForTarget(masking.get(), uikit::UIControlEventTouchUpInside),
            std::vector<std::string>{"tapped"});

  // The tracking view an archive makes starts tracking once awoken, with its height constraint.
  auto tracking = std::dynamic_pointer_cast<KeyboardTrackingView>(
      ClassRegistry::make("MessageBanners.KeyboardTrackingView"));
  ASSERT_TRUE(tracking);
  EXPECT_FALSE(tracking->heightConstraint());
  tracking->awakeFromNib();
  ASSERT_TRUE(tracking->heightConstraint());
  EXPECT_EQ(tracking->heightConstraint()->constant(), 0);
}

}  // namespace
}  // namespace MessageBanners
