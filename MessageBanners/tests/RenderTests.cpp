#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <filesystem>

#include "MessageBanners/MessageView.h"
#include "platform/uikit/Archive.h"
#include "platform/uikit/FontTextMeasurer.h"
#include "platform/uikit/ImageDecoding.h"
#include "platform/uikit/Renderer.h"

namespace MessageBanners {
namespace {

using uikit::UIColor;
using uikit::UIUserInterfaceStyle;

// The red, green, blue of a premultiplied pixel of an opaque image.
std::array<int, 3> rgbAt(const uikit::UIImage& image, double x, double y) {
  const auto& bitmap = *image.cgImage();
  auto scale = image.scale();
  auto p = bitmap.pixel(static_cast<int>(x * scale), static_cast<int>(y * scale));
  return {static_cast<int>((p >> 16) & 0xff), static_cast<int>((p >> 8) & 0xff), static_cast<int>(p & 0xff)};
}

std::array<int, 3> rgb255(const UIColor& color) {
  return {static_cast<int>(std::lround(color.red() * 255)), static_cast<int>(std::lround(color.green() * 255)),
          static_cast<int>(std::lround(color.blue() * 255))};
}

// Draws each layout, themed, on a backdrop of its style, to FENDREL_RENDER_OUTPUT/<layout>-<style>.png,
// and checks that the card shows the theme's colour for that style.
TEST(MessageBannersRender, LayoutsInLightAndDark) {
  uikit::setArchiveImageLoader([](const std::string& name, const std::shared_ptr<const foundation::Bundle>& bundle) {
    auto path = bundle ? bundle->path(name, "png") : std::nullopt;
    if (!path) return std::shared_ptr<uikit::UIImage>();
    auto image = uikit::readImageFile(*path);
    return image ? *image : nullptr;
  });
  // Laid-out text sizes must match the drawn text.
  uikit::TextMeasurer::setCurrent(std::make_shared<uikit::FontTextMeasurer>());
  std::filesystem::create_directories(FENDREL_RENDER_OUTPUT);
  struct Case {
    MessageView::Layout layout;
    Theme theme;
    IconStyle icon;
    const char* title;
    const char* body;
  };
  const Case cases[] = {
      {MessageView::Layout::MessageView, Theme::Info, IconStyle::Default, "Rules updated", "12 340 rules are active."},
      {MessageView::Layout::CardView, Theme::Success, IconStyle::Default, "Blocker enabled",
       "Reload the page to see the difference."},
      {MessageView::Layout::TabView, Theme::Warning, IconStyle::Light, "Update pending", "Open the app to finish."},
      {MessageView::Layout::StatusLine, Theme::Error, IconStyle::None, "", "No network connection"},
      {MessageView::Layout::CenteredView, Theme::Info, IconStyle::Subtle, "Site allowed",
       "example.com is on your list of allowed sites."},
  };
  for (auto style : {UIUserInterfaceStyle::Light, UIUserInterfaceStyle::Dark}) {
    bool dark = style == UIUserInterfaceStyle::Dark;
    for (const auto& c : cases) {
      auto name = MessageView::rawValue(c.layout) + (dark ? "-dark" : "-light");
      SCOPED_TRACE(name);
      auto view = MessageView::viewFromNib(c.layout);
      auto size = view->bounds().size;
      auto backdrop = uikit::UIView::create({0, 0, size.width, size.height});
      backdrop->setOverrideUserInterfaceStyle(style);
      backdrop->setBackgroundColor(dark ? UIColor::white(0.08) : UIColor::white(0.97));
      backdrop->addSubview(view);
      view->configureTheme(c.theme, c.icon);
      view->configureContent(c.title, c.body);
      backdrop->layoutIfNeeded();

      auto path = std::string(FENDREL_RENDER_OUTPUT) + "/" + name + ".png";
      auto written = uikit::Renderer::renderViewToPNG(*backdrop, path, 2);
      ASSERT_TRUE(written) << written.error().localizedDescription();
      auto image = uikit::Renderer::renderView(*backdrop, 2);
      ASSERT_TRUE(image);
      auto card = view->backgroundView()->convertRectToView(view->backgroundView()->bounds(), backdrop.get());
      auto expected = themeColors(c.theme).background.resolvedColor({style});
      EXPECT_EQ(rgbAt(**image, card.origin.x + card.size.width / 2, card.origin.y + card.size.height - 2),
                rgb255(expected));
    }
  }
  uikit::setArchiveImageLoader(nullptr);
  uikit::TextMeasurer::setCurrent(nullptr);
}

}  // namespace
}  // namespace MessageBanners
