#include "platform/uikit/UIKitError.h"

namespace uikit {

foundation::Error makeUIKitError(UIKitError code, const std::string& detail) {
  std::string what;
  switch (code) {
    case UIKitError::VisualFormatSyntax: what = "cannot parse visual format"; break;
    case UIKitError::VisualFormatUnknownView: what = "cannot find view of visual format"; break;
    case UIKitError::VisualFormatUnknownMetric: what = "cannot find metric of visual format"; break;
  }
  return foundation::Error::withDescription(kUIKitErrorDomain, static_cast<std::int64_t>(code), what + ": " + detail);
}

}  // namespace uikit
