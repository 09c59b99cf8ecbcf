#include "dozidi-cocoa/Sources/Dozidi/DozidiId.h"

#include <cctype>

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
  for (char c : uuid_.uuidString()) {
    if (c != '-') text.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
  }
  return text;
}

std::size_t DozidiId::hash() const {
  std::size_t h = 0;
  for (auto byte : uuid_.bytes()) h = h * 131 + byte;
  return h;
}
