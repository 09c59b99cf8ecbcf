#include "dozidi-cocoa/Sources/Dozidi/Integrations/DozidiCrashStackEntryMapper.h"

#include <cinttypes>
#include <cstdio>
#include <string>

#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiFrame.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashStackCursor.h"

namespace {

std::string hex(std::uint64_t value) {
  char text[2 + 16 + 1];
  std::snprintf(text, sizeof text, "0x%016" PRIx64, value);
  return text;
}

}  // namespace

std::shared_ptr<DozidiFrame> DozidiCrashStackEntryMapper::dozidiCrashStackEntryToDozidiFrame(
    const DozidiCrashStackEntry& entry) const {
  auto frame = DozidiFrame::create();
  frame->symbolAddress = hex(entry.symbolAddress);
  frame->instructionAddress = hex(entry.address);
  frame->imageAddress = hex(entry.imageAddress);
  if (entry.symbolName) frame->function = entry.symbolName;
  if (entry.imageName) {
    frame->package = entry.imageName;
    frame->inApp = foundation::Number::fromBool(inAppLogic_.isInApp(std::string_view(entry.imageName)));
  }
  return frame;
}

std::shared_ptr<DozidiFrame> DozidiCrashStackEntryMapper::mapStackEntryWithCursor(
    const DozidiCrashStackCursor& cursor) const {
  return dozidiCrashStackEntryToDozidiFrame(cursor.stackEntry);
}
