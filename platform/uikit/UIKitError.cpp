#include "platform/uikit/UIKitError.h"

namespace uikit {

foundation::Error makeUIKitError(UIKitError code, const std::string& detail) {
  std::string what;
  switch (code) {
    case UIKitError::VisualFormatSyntax: what = "cannot parse visual format"; break;
    case UIKitError::VisualFormatUnknownView: what = "cannot find view of visual format"; break;
    case UIKitError::VisualFormatUnknownMetric: what = "cannot find metric of visual format"; break;
    case UIKitError::ImageUnsupportedFormat: what = "cannot decode image: not a PNG or JPEG file"; break;
    case UIKitError::ImageDecoding: what = "cannot decode image"; break;
    case UIKitError::ImageTooLarge: what = "cannot decode image: too large"; break;
    case UIKitError::ImageEncoding: what = "cannot encode image"; break;
    case UIKitError::Drawing: what = "cannot draw"; break;
  }
  return foundation::Error::withDescription(kUIKitErrorDomain, static_cast<std::int64_t>(code), what + ": " + detail);
}

}  // namespace uikit
