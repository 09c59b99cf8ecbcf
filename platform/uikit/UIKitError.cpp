#include "platform/uikit/UIKitError.h"

namespace uikit {

foundation::Error makeUIKitError(UIKitError code, const std::string& detail) {
  std::string what;
  switch (code) {
    case UIKitError::VisualFormatSyntax: what = "cannot parse visual format"; break;
    case UIKitError::VisualFormatUnknownView: what = "cannot find view of visual format"; break;
    case UIKitError::VisualFormatUnknownMetric: what = "cannot find metric of visual format"; break;
    case UIKitError::ArchiveNotFound: what = "archive not found"; break;
    case UIKitError::ArchiveMalformed: what = "malformed archive"; break;
    case UIKitError::ArchiveUnknownClass: what = "unknown class in archive"; break;
    case UIKitError::ArchiveUnknownProperty: what = "unknown attribute or outlet in archive"; break;
    case UIKitError::ArchiveUnknownObject: what = "outlet to a missing object in archive"; break;
    case UIKitError::ArchiveBadValue: what = "bad value in archive"; break;
    case UIKitError::StoryboardUnknownIdentifier: what = "unknown storyboard identifier"; break;
    case UIKitError::ImageUnsupportedFormat: what = "cannot decode image: not a PNG or JPEG file"; break;
    case UIKitError::ImageDecoding: what = "cannot decode image"; break;
    case UIKitError::ImageTooLarge: what = "cannot decode image: too large"; break;
    case UIKitError::ImageEncoding: what = "cannot encode image"; break;
    case UIKitError::Drawing: what = "cannot draw"; break;
  }
  return foundation::Error::withDescription(kUIKitErrorDomain, static_cast<std::int64_t>(code), what + ": " + detail);
}

}  // namespace uikit
