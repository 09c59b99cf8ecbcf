#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiId.h"

#include <cctype>
#include <cstdint>

namespace {

foundation::UUID zeroUUID() { return foundation::UUID::fromBytes({}); }

}  // namespace

DozidiId DozidiId::initWithUUIDString(std::string_view text) {
  std::optional<foundation::UUID> uuid;
  if (text.size() == 36) {
    uuid = foundation::UUID::fromString(text);
  } else if (text.size() == 32) {
    std::string dashed(text);
    for (std::size_t index : {8, 13, 18, 23}) dashed.insert(index, "-");
    uuid = foundation::UUID::fromString(dashed);
  }
  return DozidiId(uuid.value_or(zeroUUID()));
}

const DozidiId& DozidiId::empty() {
  static const DozidiId emptyId(zeroUUID());
  return emptyId;
}

std::string DozidiId::dozidiIdString() const {
  std::string text;
  text.reserve(32);
  appendIdString(text);
  return text;
}

void DozidiId::appendIdString(std::string& out) const {
  static constexpr char kHex[] = "0123456789abcdef";
  const auto& bytes = uuid_.bytes();
  const std::size_t at = out.size();
  out.resize(at + 2 * bytes.size());
  char* digits = out.data() + at;
  for (const std::uint8_t byte : bytes) {
    *digits++ = kHex[byte >> 4];
    *digits++ = kHex[byte & 0x0f];
  }
}

std::size_t DozidiId::hash() const {
  std::size_t h = 0;
  for (auto byte : uuid_.bytes()) h = h * 131 + byte;
  return h;
}
