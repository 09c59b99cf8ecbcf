#include "dozidi-cocoa/Sources/Dozidi/Scope/DozidiBreadcrumb.h"

#include <cstdio>
#include <functional>

#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiFoundationHelpers.h"

using foundation::Dictionary;

std::shared_ptr<DozidiBreadcrumb> DozidiBreadcrumb::create() {
  auto crumb = std::shared_ptr<DozidiBreadcrumb>(new DozidiBreadcrumb());
  crumb->timestamp = foundation::Date::now();
  return crumb;
}

std::shared_ptr<DozidiBreadcrumb> DozidiBreadcrumb::initWithLevel(DozidiEventLevel level, std::string category) {
  auto crumb = create();
  crumb->level = level;
  crumb->category = std::move(category);
  return crumb;
}

Dictionary DozidiBreadcrumb::serialize() const {
  Dictionary result;
  result.reserve(6);
  result.set("level", nameForDozidiLevel(level));
  if (timestamp) result.set("timestamp", dozidi_toIso8601String(*timestamp));
  result.set("category", category);
  if (type) result.set("type", *type);
  if (message) result.set("message", *message);
  if (data) result.set("data", dozidi_sanitize(*data));
  return result;
}

bool DozidiBreadcrumb::isEqualToBreadcrumb(const DozidiBreadcrumb* other) const {
  if (other == this) return true;
  if (!other) return false;
  return level == other->level && category == other->category && timestamp == other->timestamp &&
         type == other->type && message == other->message && data == other->data;
}

std::size_t DozidiBreadcrumb::hash() const {
  std::size_t hash = 17;
  const auto mix = [&](std::size_t value) { hash = hash * 23 + value; };
  const auto textHash = [](const std::optional<std::string>& text) -> std::size_t {
    return text ? std::hash<std::string>()(*text) : 0;
  };
  mix(static_cast<std::size_t>(level));
  mix(std::hash<std::string>()(category));
  mix(timestamp ? std::hash<double>()(timestamp->timeIntervalSince1970()) : 0);
  mix(textHash(type));
  mix(textHash(message));
  // Equal dictionaries have equal entry counts, which keeps the hash in step with equality.
  mix(data ? data->size() : 0);
  return hash;
}

std::string DozidiBreadcrumb::description() const {
  char address[32];
  std::snprintf(address, sizeof address, "%p", static_cast<const void*>(this));
  return "<DozidiBreadcrumb: " + std::string(address) + ", " + foundation::Value(serialize()).description() + ">";
}
