#include "MessageBanners/Theme.h"

#include "MessageBanners/MessageView.h"
#include "platform/uikit/Application.h"
#include "platform/uikit/Archive.h"

namespace MessageBanners {

namespace {

constexpr Icon kIcons[] = {
    Icon::Error,      Icon::Warning,      Icon::Success,      Icon::Info,
    Icon::ErrorLight, Icon::WarningLight, Icon::SuccessLight, Icon::InfoLight,
    Icon::ErrorSubtle, Icon::WarningSubtle, Icon::SuccessSubtle, Icon::InfoSubtle,
};

uikit::UIColor rgb(int r, int g, int b) { return {r / 255.0, g / 255.0, b / 255.0, 1.0}; }

struct Palette {
  uikit::UIColor light;
  uikit::UIColor dark;
};

Palette paletteOf(Theme theme) {
  switch (theme) {
    case Theme::Info: return {rgb(225, 225, 225), rgb(125, 125, 125)};
    case Theme::Success: return {rgb(97, 161, 23), rgb(55, 122, 0)};
    case Theme::Warning: return {rgb(246, 197, 44), rgb(239, 184, 10)};
    case Theme::Error: return {rgb(249, 66, 47), rgb(195, 12, 12)};
  }
  return {rgb(225, 225, 225), rgb(125, 125, 125)};
}

Icon iconOf(IconStyle style, Theme theme) {
  // Rows of kIcons: default, light, subtle; columns: error, warning, success, info.
  int column = theme == Theme::Error ? 0 : theme == Theme::Warning ? 1 : theme == Theme::Success ? 2 : 3;
  int row = style == IconStyle::Light ? 1 : style == IconStyle::Subtle ? 2 : 0;
  return kIcons[row * 4 + column];
}

}  // namespace

std::string rawValue(Icon icon) {
  switch (icon) {
    case Icon::Error: return "errorIcon";
    case Icon::Warning: return "warningIcon";
    case Icon::Success: return "successIcon";
    case Icon::Info: return "infoIcon";
    case Icon::ErrorLight: return "errorIconLight";
    case Icon::WarningLight: return "warningIconLight";
    case Icon::SuccessLight: return "successIconLight";
    case Icon::InfoLight: return "infoIconLight";
    case Icon::ErrorSubtle: return "errorIconSubtle";
    case Icon::WarningSubtle: return "warningIconSubtle";
    case Icon::SuccessSubtle: return "successIconSubtle";
    case Icon::InfoSubtle: return "infoIconSubtle";
  }
  return {};
}

std::optional<Icon> iconFromRawValue(std::string_view raw) {
  for (auto icon : kIcons)
    if (rawValue(icon) == raw) return icon;
  return std::nullopt;
}

std::shared_ptr<uikit::UIImage> iconImage(Icon icon) {
  auto name = rawValue(icon);
  uikit::ArchiveContext context;
  context.bundle = resourceBundle();
  auto image = uikit::imageFromArchive(foundation::Value(name), context);
  if (!image) image = uikit::UIImage::create({0, 0}, 1.0, name);
  return image->imageWithRenderingMode(uikit::UIImageRenderingMode::AlwaysTemplate);
}

std::shared_ptr<uikit::UIImage> iconImage(IconStyle style, Theme theme) {
  if (style == IconStyle::None) return nullptr;
  return iconImage(iconOf(style, theme));
}

ThemeColors themeColors(Theme theme) {
  auto palette = paletteOf(theme);
  bool info = theme == Theme::Info;
  if (!uikit::UIDevice::current().isAtLeast(13)) {
    return {palette.light, info ? uikit::UIColor::darkTextColor() : uikit::UIColor::whiteColor()};
  }
  auto background = uikit::UIColor::dynamic([palette](const uikit::UITraitCollection& traits) {
    return traits.userInterfaceStyle == uikit::UIUserInterfaceStyle::Light ? palette.light : palette.dark;
  });
  return {background, info ? uikit::UIColor::labelColor() : uikit::UIColor::whiteColor()};
}

void MessageView::configureTheme(Theme theme, IconStyle iconStyle) {
  auto colors = themeColors(theme);
  configureTheme(colors.background, colors.foreground, iconImage(iconStyle, theme), std::nullopt);
}

}  // namespace MessageBanners
