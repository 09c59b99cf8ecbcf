#pragma once
#include <cstdint>
#include <string>

#include "platform/foundation/Error.h"

namespace uikit {

inline constexpr const char* kUIKitErrorDomain = "UIKitErrorDomain";

/// Codes of the toolkit's own errors.
enum class UIKitError : std::int64_t {
  // Visual-format constraints.
  VisualFormatSyntax = 1,
  VisualFormatUnknownView = 2,
  VisualFormatUnknownMetric = 3,
  // Archives (nibs and storyboards).
  ArchiveNotFound = 10,
  ArchiveMalformed = 11,
  ArchiveUnknownClass = 12,
  ArchiveUnknownProperty = 13,
  ArchiveUnknownObject = 14,
  ArchiveBadValue = 15,
  StoryboardUnknownIdentifier = 16,
  // Images and drawing.
  ImageUnsupportedFormat = 20,
  ImageDecoding = 21,
  ImageTooLarge = 22,
  ImageEncoding = 23,
  Drawing = 24,
};

/// An error of the toolkit's domain; `detail` says what was wrong and where.
foundation::Error makeUIKitError(UIKitError code, const std::string& detail);

}  // namespace uikit
