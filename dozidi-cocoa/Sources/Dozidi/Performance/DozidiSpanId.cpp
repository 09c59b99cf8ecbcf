#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiSpanId.h"

#include <algorithm>
#include <cctype>

DozidiSpanId::DozidiSpanId() : DozidiSpanId(initWithUUID(foundation::UUID())) {}

DozidiSpanId DozidiSpanId::initWithUUID(const foundation::UUID& uuid) {
  std::string text;
  for (char c : uuid.uuidString()) {
    if (c == '-') continue;
    text.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    if (text.size() == 16) break;
  }
  return DozidiSpanId(Raw{}, std::move(text));
}

DozidiSpanId DozidiSpanId::initWithValue(std::string_view value) {
  if (value.size() != 16) return empty();
  std::string text(value);
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return DozidiSpanId(Raw{}, std::move(text));
}

const DozidiSpanId& DozidiSpanId::empty() {
  static const DozidiSpanId id(Raw{}, std::string(16, '0'));
  return id;
}
