#include "dozidi-cocoa/Sources/Dozidi/Integrations/DozidiCrashDefaultBinaryImageProvider.h"

#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashDynamicLinker.h"

std::int64_t DozidiCrashDefaultBinaryImageProvider::getImageCount() { return dozidicrashdl_imageCount(); }

DozidiBinaryImage DozidiCrashDefaultBinaryImageProvider::getBinaryImage(std::int64_t index) {
  DozidiCrashBinaryImage image{};
  if (index < 0 || index > INT32_MAX || !dozidicrashdl_getBinaryImage(static_cast<int>(index), &image)) return {};
  return DozidiBinaryImage{image.address, image.vmAddress, image.size, image.name, image.uuid};
}
