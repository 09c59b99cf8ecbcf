#pragma once
#include <memory>

#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiInAppLogic.h"

class DozidiFrame;
struct DozidiCrashStackCursor;
struct DozidiCrashStackEntry;

/// Turns the crash recorder's stack entries into frames: the three addresses as "0x" and sixteen
/// hexadecimal digits, the symbol as the function, and, only when the entry names its image, the
/// image's path as the package and whether the image is the app's. Immutable: any thread.
class DozidiCrashStackEntryMapper {
 public:
  explicit DozidiCrashStackEntryMapper(DozidiInAppLogic inAppLogic) : inAppLogic_(std::move(inAppLogic)) {}

  std::shared_ptr<DozidiFrame> dozidiCrashStackEntryToDozidiFrame(const DozidiCrashStackEntry& entry) const;
  /// The frame of the cursor's current entry.
  std::shared_ptr<DozidiFrame> mapStackEntryWithCursor(const DozidiCrashStackCursor& cursor) const;

 private:
  DozidiInAppLogic inAppLogic_;
};
