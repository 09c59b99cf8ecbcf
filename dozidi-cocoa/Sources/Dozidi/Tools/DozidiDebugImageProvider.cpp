#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiDebugImageProvider.h"

#include <cinttypes>
#include <cstdio>
#include <set>

using foundation::Dictionary;

namespace {

std::string hexAddress(std::uint64_t address) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%016" PRIx64, address);
  return text;
}

std::string lastPathComponent(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

Dictionary DozidiDebugMeta::serialize() const {
  Dictionary result;
  if (uuid) result.set("uuid", *uuid);
  if (type) result.set("type", *type);
  if (imageAddress) result.set("image_addr", *imageAddress);
  if (imageSize) result.set("image_size", *imageSize);
  if (name) result.set("name", lastPathComponent(*name));
  if (imageVmAddress) result.set("image_vmaddr", *imageVmAddress);
  if (codeId) result.set("code_id", *codeId);
  if (debugId) result.set("debug_id", *debugId);
  return result;
}

void DozidiDebugMeta::setELFBuildId(const std::string& uuidText, const std::optional<std::string>& fullBuildId) {
  type = "elf";
  std::string hex;
  for (char c : uuidText) {
    if (c == '-') continue;
    const bool digit = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    if (!digit) return;
    hex.push_back(c >= 'A' && c <= 'F' ? static_cast<char>(c - 'A' + 'a') : c);
  }
  if (hex.size() != 32) return;
  codeId = fullBuildId.value_or(hex);
  // Little-endian GUID layout: the 4-, 2- and 2-byte groups are read in reverse byte order.
  auto swapped = [&](std::size_t start, std::size_t bytes) {
    std::string out;
    for (std::size_t i = bytes; i-- > 0;) out += hex.substr(start + 2 * i, 2);
    return out;
  };
  debugId = swapped(0, 4) + "-" + swapped(8, 2) + "-" + swapped(12, 2) + "-" + hex.substr(16, 4) + "-" + hex.substr(20, 12);
}

std::vector<std::shared_ptr<DozidiDebugMeta>> DozidiDebugImageProvider::getDebugImages() {
  std::vector<std::shared_ptr<DozidiDebugMeta>> images;
  if (!binaryImageProvider_) return images;
  const auto count = binaryImageProvider_->getImageCount();
  for (std::int64_t i = 0; i < count; ++i) {
    const auto image = binaryImageProvider_->getBinaryImage(i);
    auto meta = DozidiDebugMeta::create();
    meta->uuid = convertUUID(image.uuid);
    meta->type = "apple";
    if (image.vmAddress != 0) meta->imageVmAddress = hexAddress(image.vmAddress);
    meta->imageAddress = hexAddress(image.address);
    meta->imageSize = image.size;
    if (image.name) meta->name = std::string(image.name);
    images.push_back(std::move(meta));
  }
  return images;
}

std::vector<std::shared_ptr<DozidiDebugMeta>> DozidiDebugImageProvider::getDebugImagesForThreads(
    const std::vector<std::shared_ptr<DozidiThread>>& threads) {
  std::set<std::string> addresses;
  for (const auto& thread : threads) {
    if (!thread || !thread->stacktrace) continue;
    for (const auto& frame : thread->stacktrace->frames) {
      if (frame && frame->imageAddress) addresses.insert(*frame->imageAddress);
    }
  }
  std::vector<std::shared_ptr<DozidiDebugMeta>> result;
  for (auto& image : getDebugImages()) {
    if (image->imageAddress && addresses.count(*image->imageAddress)) result.push_back(std::move(image));
  }
  return result;
}

std::optional<std::string> DozidiDebugImageProvider::convertUUID(const std::uint8_t* b) {
  if (!b) return std::nullopt;
  char text[40];
  std::snprintf(text, sizeof text, "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", b[0], b[1],
                b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
  return std::string(text);
}
