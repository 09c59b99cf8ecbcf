#pragma once
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiDebugImageProvider.h"

/// The loaded binary images as the crash recorder's dynamic-linker tools list them. An image
/// without a build-id has no UUID bytes (null, never garbage). Stateless: any thread; a record's
/// texts stay valid while its image is loaded.
class DozidiCrashDefaultBinaryImageProvider final : public DozidiBinaryImageProvider {
 public:
  std::int64_t getImageCount() override;
  /// All fields zero when no image has that index.
  DozidiBinaryImage getBinaryImage(std::int64_t index) override;
};
