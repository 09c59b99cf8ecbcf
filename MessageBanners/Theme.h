#pragma once
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/uikit/Color.h"
#include "platform/uikit/Image.h"

namespace MessageBanners {

/// The four message themes.
enum class Theme { Info, Success, Warning, Error };

/// How the theme's icon looks; `None` shows no icon.
enum class IconStyle { Default, Light, Subtle, None };

/// The icon images of the library's resource bundle, by name.
enum class Icon {
  Error, Warning, Success, Info,
  ErrorLight, WarningLight, SuccessLight, InfoLight,
  ErrorSubtle, WarningSubtle, SuccessSubtle, InfoSubtle,
};

/// The image name of `icon` ("errorIcon", "infoIconSubtle", …).
std::string rawValue(Icon icon);
/// The icon of an image name; nothing for any other text.
std::optional<Icon> iconFromRawValue(std::string_view rawValue);
/// The icon as a template image, so the tint of the view showing it colours it. A missing image
/// (a broken installation) gives an empty image of that name.
std::shared_ptr<uikit::UIImage> iconImage(Icon icon);
/// The icon of `theme` in `style` as iconImage gives it; null for IconStyle::None.
std::shared_ptr<uikit::UIImage> iconImage(IconStyle style, Theme theme);

/// The colours configureTheme gives a message: on systems with dynamic colours the background
/// follows the interface style (dark for dark and unspecified, light otherwise) and the info
/// foreground is the label colour; on earlier systems the light background and fixed foregrounds.
struct ThemeColors {
  uikit::UIColor background;
  uikit::UIColor foreground;
};
ThemeColors themeColors(Theme theme);

}  // namespace MessageBanners
