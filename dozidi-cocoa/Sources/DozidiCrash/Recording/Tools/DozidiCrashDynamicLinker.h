#pragma once
// Loaded images as report records, and an address-to-symbol lookup that takes no loader lock.
// Images are ELF: the UUID is the first 16 bytes of the GNU build-id.

#include <dlfcn.h>

#include <cstdint>

struct DozidiCrashBinaryImage {
  std::uint64_t address;    ///< the ELF header in memory
  std::uint64_t vmAddress;  ///< lowest loadable virtual address (0 for PIE programs and libraries)
  std::uint64_t size;
  const char* name;
  const std::uint8_t* uuid;  ///< 16 bytes inside the loaded build-id note, or null
  std::int32_t cpuType;
  std::int32_t cpuSubType;
  std::uint64_t majorVersion;
  std::uint64_t minorVersion;
  std::uint64_t revisionVersion;
  const char* crashInfoMessage;
  const char* crashInfoMessage2;
};

/// Fills `info` (image path, header address, symbol name, symbol address) for the image holding
/// `address`. True when an image holds it, also when no symbol does (then dli_sname is null).
/// Runs during a crash: no allocation, no locks.
bool dozidicrashdl_dladdr(std::uintptr_t address, Dl_info* info);

/// Runs during a crash: no allocation, no locks.
std::uint32_t dozidicrashdl_imageCount();
bool dozidicrashdl_getBinaryImage(int index, DozidiCrashBinaryImage* image);
/// Calls `visit(image, context)` for each image in the order of `dozidicrashdl_getBinaryImage`,
/// reading the loader's list once. Returns the token of the images visited (see
/// `dozidicrashdl_imageListToken`), or 0 when they cannot be told again.
/// Runs during a crash: no allocation, no locks.
std::uintptr_t dozidicrashdl_forEachBinaryImage(void (*visit)(const DozidiCrashBinaryImage* image, void* context),
                                                void* context);
/// A token of the images a visit would give now, or 0 when it cannot tell. While it returns the
/// token a visit returned, a new visit gives the same records, so what was made of that visit
/// still stands.
/// Runs during a crash: no allocation, no locks.
std::uintptr_t dozidicrashdl_imageListToken();
/// The same visit at normal time, reading the images directly under the loader's lock: no system
/// call per image. False when the images could not be walked so (then none was visited).
/// Normal time only: takes the loader's lock.
bool dozidicrashdl_forEachLoadedBinaryImage(void (*visit)(const DozidiCrashBinaryImage* image, void* context),
                                            void* context);
bool dozidicrashdl_getBinaryImageForHeader(const void* header, const char* imageName, DozidiCrashBinaryImage* image);

/// Index of the first image whose name equals `imageName` (exact) or contains it; 0xFFFFFFFF
/// when none matches or the name is null.
/// Runs during a crash: no allocation, no locks.
std::uint32_t dozidicrashdl_imageNamed(const char* imageName, bool exactMatch);

/// The 16 UUID bytes of that image, or null.
const std::uint8_t* dozidicrashdl_imageUUID(const char* imageName, bool exactMatch);

/// Writes 16 bytes as upper-case 8-4-4-4-12 text and a terminator (37 bytes).
/// Runs during a crash: no allocation, no locks.
void dozidicrashdl_uuidToString(const std::uint8_t* bytes, char* text);
