#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiStacktrace.h"
#include "platform/foundation/Value.h"

/// One loaded binary image as an event's debug metadata lists it. A plain record.
class DozidiDebugMeta {
 public:
  static std::shared_ptr<DozidiDebugMeta> create() { return std::shared_ptr<DozidiDebugMeta>(new DozidiDebugMeta()); }

  std::optional<std::string> uuid, type, name;
  std::optional<std::uint64_t> imageSize;
  std::optional<std::string> imageAddress, imageVmAddress;
  /// ELF images: the build-id as lower-case hex, and the debug id made from it.
  std::optional<std::string> codeId, debugId;

  /// "uuid", "type", "image_addr", "image_size", "name" (its last path component),
  /// "image_vmaddr", "code_id" and "debug_id", each only when set.
  foundation::Dictionary serialize() const;

  /// Marks the image as an ELF image identified by its build-id, given as the upper-case UUID
  /// text of its first 16 bytes: type "elf", the code id (those bytes in lower-case hex, or
  /// `fullBuildId` when known) and the debug id (the UUID with its first three groups
  /// byte-swapped, as ELF debug ids are formed). Text that is no UUID sets the type only.
  void setELFBuildId(const std::string& uuidText, const std::optional<std::string>& fullBuildId = std::nullopt);

 private:
  DozidiDebugMeta() = default;
};

/// One binary image as the crash recorder's image list reports it.
struct DozidiBinaryImage {
  std::uint64_t address = 0;
  std::uint64_t vmAddress = 0;
  std::uint64_t size = 0;
  const char* name = nullptr;
  /// The image's 16 identifier bytes, or nullptr when it has none.
  const std::uint8_t* uuid = nullptr;
};

/// The list of loaded binary images.
class DozidiBinaryImageProvider {
 public:
  virtual ~DozidiBinaryImageProvider() = default;
  virtual std::int64_t getImageCount() = 0;
  /// The image at `index` (0 to count - 1); the record's texts live as long as the provider.
  virtual DozidiBinaryImage getBinaryImage(std::int64_t index) = 0;
};

/// Lists the loaded binary images as debug metadata, all of them or those that frames point into.
class DozidiDebugImageProvider {
 public:
  explicit DozidiDebugImageProvider(std::shared_ptr<DozidiBinaryImageProvider> binaryImageProvider)
      : binaryImageProvider_(std::move(binaryImageProvider)) {}

  /// Every image in the provider's order; none when the provider has no image.
  std::vector<std::shared_ptr<DozidiDebugMeta>> getDebugImages();
  /// The images, in the provider's order, that hold the image address of a frame of one of the
  /// threads' stack traces.
  std::vector<std::shared_ptr<DozidiDebugMeta>> getDebugImagesForThreads(
      const std::vector<std::shared_ptr<DozidiThread>>& threads);
  /// The 16 bytes as upper-case hexadecimal text grouped 8-4-4-4-12; none for none.
  static std::optional<std::string> convertUUID(const std::uint8_t* bytes);

 private:
  std::shared_ptr<DozidiBinaryImageProvider> binaryImageProvider_;
};
