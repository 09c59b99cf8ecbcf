#include <gtest/gtest.h>

#include "MessageBanners/MessageView.h"
#include "MessageBanners/Theme.h"
#include "platform/uikit/Application.h"

namespace MessageBanners {
namespace {

using uikit::UIColor;
using uikit::UIUserInterfaceStyle;

UIColor rgb(int r, int g, int b) { return {r / 255.0, g / 255.0, b / 255.0, 1.0}; }

class ThemeTest : public ::testing::Test {
 protected:
  void TearDown() override { uikit::UIDevice::current().systemVersion = "17.0"; }
};

TEST_F(ThemeTest, ColoursFollowTheStyleFromTheDynamicColourVersionOn) {
  struct Case {
    Theme theme;
    UIColor light, dark;
    bool whiteText;
  };
  const Case cases[] = {
      {Theme::Info, rgb(225, 225, 225), rgb(125, 125, 125), false},
      {Theme::Success, rgb(97, 161, 23), rgb(55, 122, 0), true},
      {Theme::Warning, rgb(246, 197, 44), rgb(239, 184, 10), true},
      {Theme::Error, rgb(249, 66, 47), rgb(195, 12, 12), true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.theme));
    uikit::UIDevice::current().systemVersion = "13.0";
    auto colors = themeColors(c.theme);
    EXPECT_EQ(colors.background.resolvedColor({UIUserInterfaceStyle::Light}), c.light);
    EXPECT_EQ(colors.background.resolvedColor({UIUserInterfaceStyle::Dark}), c.dark);
    EXPECT_EQ(colors.background.resolvedColor({UIUserInterfaceStyle::Unspecified}), c.dark);
    for (auto style : {UIUserInterfaceStyle::Light, UIUserInterfaceStyle::Dark}) {
      auto expected = c.whiteText ? UIColor::whiteColor() : UIColor::labelColor().resolvedColor({style});
      EXPECT_EQ(colors.foreground.resolvedColor({style}), expected);
    }

    // Before dynamic colours: the light background and fixed text colours, whatever the style.
    uikit::UIDevice::current().systemVersion = "12.4";
    colors = themeColors(c.theme);
    EXPECT_FALSE(colors.background.isDynamic());
    EXPECT_EQ(colors.background, c.light);
    EXPECT_EQ(colors.foreground, c.whiteText ? UIColor::whiteColor() : UIColor::darkTextColor());
  }
}

TEST_F(ThemeTest, IconNamesAndImages) {
  EXPECT_EQ(iconFromRawValue("infoIconSubtle"), Icon::InfoSubtle);
  EXPECT_EQ(iconFromRawValue("infoIconsubtle"), std::nullopt);
  EXPECT_EQ(iconFromRawValue(""), std::nullopt);
  EXPECT_EQ(iconImage(IconStyle::None, Theme::Info), nullptr);

  struct Case {
    IconStyle style;
    Theme theme;
    const char* name;
  };
  const Case cases[] = {
      {IconStyle::Default, Theme::Info, "infoIcon"},       {IconStyle::Light, Theme::Success, "successIconLight"},
      {IconStyle::Subtle, Theme::Warning, "warningIconSubtle"}, {IconStyle::Default, Theme::Error, "errorIcon"},
      {IconStyle::Light, Theme::Error, "errorIconLight"},    {IconStyle::Subtle, Theme::Info, "infoIconSubtle"},
  };
  for (const auto& c : cases) {
    auto image = iconImage(c.style, c.theme);
    ASSERT_TRUE(image) << c.name;
    EXPECT_EQ(image->name(), c.name);
    EXPECT_EQ(image->renderingMode(), uikit::UIImageRenderingMode::AlwaysTemplate);
    EXPECT_EQ(iconFromRawValue(c.name).has_value(), true);
  }
}

TEST_F(ThemeTest, ConfigureThemeColoursTheMessage) {
  auto view = MessageView::viewFromNib(MessageView::Layout::CardView);
  view->setOverrideUserInterfaceStyle(UIUserInterfaceStyle::Dark);
  view->configureContent("T", "B", std::string("x"));
  view->configureTheme(Theme::Error, IconStyle::None);
  auto card = view->backgroundView();
  EXPECT_EQ(card->layer()->backgroundColor(), rgb(195, 12, 12));
  EXPECT_EQ(view->titleLabel()->textColor, UIColor::whiteColor());
  EXPECT_TRUE(view->iconImageView()->isHidden());
  EXPECT_EQ(view->iconImageView()->image(), nullptr);
  // The text icon is cleared too.
  EXPECT_TRUE(view->iconLabel()->isHidden());
  EXPECT_EQ(view->button()->backgroundColor(), UIColor::whiteColor());
  EXPECT_EQ(view->button()->tintColor().resolvedColor({UIUserInterfaceStyle::Dark}), rgb(195, 12, 12));

  // Info in dark shows grey 125 with the label colour; in light grey 225.
  view->configureTheme(Theme::Info, IconStyle::Light);
  EXPECT_EQ(card->layer()->backgroundColor(), rgb(125, 125, 125));
  EXPECT_EQ(view->bodyLabel()->textColor.resolvedColor({UIUserInterfaceStyle::Dark}), UIColor::whiteColor());
  EXPECT_FALSE(view->iconImageView()->isHidden());
  view->setOverrideUserInterfaceStyle(UIUserInterfaceStyle::Light);
  view->configureTheme(Theme::Info, IconStyle::Light);
  EXPECT_EQ(card->layer()->backgroundColor(), rgb(225, 225, 225));
}

}  // namespace
}  // namespace MessageBanners
