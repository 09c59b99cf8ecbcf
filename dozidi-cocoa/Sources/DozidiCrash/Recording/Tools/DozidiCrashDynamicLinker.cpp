#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashDynamicLinker.h"

#include "platform/kernel/BinaryImages.h"

#include <elf.h>

#include <cstring>

namespace {

// CPU type and subtype as reports and the system facts number them.
constexpr std::int32_t kCpuTypeX86_64 = 0x1000007;
constexpr std::int32_t kCpuSubTypeX86_64All = 3;
constexpr std::int32_t kCpuTypeArm64 = 0x100000C;

void fillRecord(const kernel::BinaryImage& from, DozidiCrashBinaryImage* image) {
  std::memset(image, 0, sizeof *image);
  image->address = from.header;
  image->vmAddress = from.vmAddress;
  image->size = from.size;
  image->name = from.name;
  image->uuid = reinterpret_cast<const std::uint8_t*>(from.uuidAddress);
  switch (from.machine) {
    case EM_X86_64:
      image->cpuType = kCpuTypeX86_64;
      image->cpuSubType = kCpuSubTypeX86_64All;
      break;
    case EM_AARCH64: image->cpuType = kCpuTypeArm64; break;
    default: break;
  }
  // ELF images carry no library version and no crash-information section.
}

}  // namespace

bool dozidicrashdl_dladdr(std::uintptr_t address, Dl_info* info) {
  std::memset(info, 0, sizeof *info);
  kernel::SymbolInfo found;
  if (!kernel::lookupAddress(address, &found)) return false;
  info->dli_fname = found.imageName;
  info->dli_fbase = reinterpret_cast<void*>(found.imageBase);
  info->dli_sname = found.symbolName;
  info->dli_saddr = reinterpret_cast<void*>(found.symbolAddress);
  return true;
}

std::uint32_t dozidicrashdl_imageCount() { return static_cast<std::uint32_t>(kernel::imageCount()); }

bool dozidicrashdl_getBinaryImage(int index, DozidiCrashBinaryImage* image) {
  kernel::BinaryImage found;
  if (!kernel::imageAtIndex(index, &found)) return false;
  fillRecord(found, image);
  return true;
}

namespace {

struct Forward {
  void (*visit)(const DozidiCrashBinaryImage*, void*);
  void* context;
};

bool forwardImage(const kernel::BinaryImage& found, void* data) {
  auto* to = static_cast<Forward*>(data);
  DozidiCrashBinaryImage image;
  fillRecord(found, &image);
  // The copy of the build-id taken when the image was read, which lives through the visit: the
  // bytes in the image itself lie on a page of its own that a crash would otherwise touch for them.
  if (image.uuid != nullptr) image.uuid = found.uuid;
  to->visit(&image, to->context);
  return true;
}

}  // namespace

std::uintptr_t dozidicrashdl_forEachBinaryImage(void (*visit)(const DozidiCrashBinaryImage* image, void* context),
                                                void* context) {
  Forward forward{visit, context};
  return kernel::forEachImage(forwardImage, &forward);
}

std::uintptr_t dozidicrashdl_imageListToken() { return kernel::imageListToken(); }

bool dozidicrashdl_forEachLoadedBinaryImage(void (*visit)(const DozidiCrashBinaryImage* image, void* context),
                                            void* context) {
  Forward forward{visit, context};
  return kernel::forEachLoadedImage(forwardImage, &forward);
}

bool dozidicrashdl_getBinaryImageForHeader(const void* header, const char* imageName, DozidiCrashBinaryImage* image) {
  kernel::BinaryImage found;
  if (!kernel::imageForHeader(reinterpret_cast<std::uintptr_t>(header), imageName, &found)) return false;
  fillRecord(found, image);
  return true;
}

std::uint32_t dozidicrashdl_imageNamed(const char* imageName, bool exactMatch) {
  if (imageName == nullptr) return 0xFFFFFFFF;
  int count = kernel::imageCount();
  for (int i = 0; i < count; ++i) {
    kernel::BinaryImage image;
    if (!kernel::imageAtIndex(i, &image)) continue;
    bool matches = exactMatch ? std::strcmp(image.name, imageName) == 0 : std::strstr(image.name, imageName) != nullptr;
    if (matches) return static_cast<std::uint32_t>(i);
  }
  return 0xFFFFFFFF;
}

const std::uint8_t* dozidicrashdl_imageUUID(const char* imageName, bool exactMatch) {
  std::uint32_t index = dozidicrashdl_imageNamed(imageName, exactMatch);
  kernel::BinaryImage image;
  if (index == 0xFFFFFFFF || !kernel::imageAtIndex(static_cast<int>(index), &image)) return nullptr;
  return reinterpret_cast<const std::uint8_t*>(image.uuidAddress);
}

void dozidicrashdl_uuidToString(const std::uint8_t* bytes, char* text) {
  static const char kDigits[] = "0123456789ABCDEF";
  int out = 0;
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text[out++] = '-';
    text[out++] = kDigits[bytes[i] >> 4];
    text[out++] = kDigits[bytes[i] & 0xF];
  }
  text[out] = '\0';
}
