#pragma once
#include "platform/uikit/TextMeasurer.h"

namespace uikit {

/// Measures text with the machine's fonts through Pango, as the renderer draws it. Install it with
/// TextMeasurer::setCurrent when laid-out sizes must match drawn text; its sizes depend on the
/// fonts installed, so tests that compare sizes keep the deterministic measurer. Thread-safe.
class FontTextMeasurer final : public TextMeasurer {
 public:
  CGSize measure(std::string_view text, const UIFont& font, CGFloat maxWidth, int numberOfLines) const override;
};

}  // namespace uikit
