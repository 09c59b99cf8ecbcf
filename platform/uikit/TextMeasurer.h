#pragma once
#include <memory>
#include <string>
#include <string_view>

#include "platform/uikit/Geometry.h"

namespace uikit {

/// A font by family, size and weight.
struct UIFont {
  std::string familyName = "System";
  double pointSize = 17;
  bool bold = false;
  static UIFont systemFont(double size) { return {"System", size, false}; }
  static UIFont boldSystemFont(double size) { return {"System", size, true}; }
  friend bool operator==(const UIFont&, const UIFont&) = default;
};

/// Measures text for layout. The process uses one measurer: a deterministic one by default, so
/// layouts do not depend on the fonts a machine has; a renderer installs a font-based one.
class TextMeasurer {
 public:
  virtual ~TextMeasurer() = default;
  /// The size `text` takes in `font`, wrapped at `maxWidth` (infinite: no wrapping) and cut to
  /// `numberOfLines` lines (0: no limit).
  virtual CGSize measure(std::string_view text, const UIFont& font, CGFloat maxWidth, int numberOfLines) const = 0;

  /// The measurer in use. Thread-safe.
  static std::shared_ptr<const TextMeasurer> current();
  /// Installs `measurer`; null restores the deterministic one.
  static void setCurrent(std::shared_ptr<const TextMeasurer> measurer);
};

/// Every character (code point) is half the point size wide, every line 1.2 × the point size
/// high; lines break at the character that no longer fits and at "\n".
class DeterministicTextMeasurer final : public TextMeasurer {
 public:
  CGSize measure(std::string_view text, const UIFont& font, CGFloat maxWidth, int numberOfLines) const override;
};

}  // namespace uikit
