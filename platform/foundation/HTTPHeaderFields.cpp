#include "platform/foundation/HTTPHeaderFields.h"

#include <algorithm>

namespace foundation {

namespace {

bool equalIgnoringCase(std::string_view a, std::string_view b) {
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) {
           return lower(x) == lower(y);
         });
}

}  // namespace

HTTPHeaderFields::HTTPHeaderFields(std::initializer_list<Field> fields) {
  for (const auto& [name, value] : fields) add(name, value);
}

std::vector<HTTPHeaderFields::Field>::iterator HTTPHeaderFields::find(std::string_view name) {
  return std::find_if(fields_.begin(), fields_.end(), [&](const Field& f) { return equalIgnoringCase(f.first, name); });
}

std::optional<std::string> HTTPHeaderFields::value(std::string_view name) const {
  for (const auto& [key, value] : fields_) {
    if (equalIgnoringCase(key, name)) return value;
  }
  return std::nullopt;
}

void HTTPHeaderFields::set(std::string_view name, std::optional<std::string> value) {
  auto it = find(name);
  if (!value) {
    if (it != fields_.end()) fields_.erase(it);
    return;
  }
  if (it != fields_.end()) {
    it->second = std::move(*value);
  } else {
    fields_.emplace_back(std::string(name), std::move(*value));
  }
}

void HTTPHeaderFields::add(std::string_view name, std::string_view value) {
  auto it = find(name);
  if (it == fields_.end()) {
    fields_.emplace_back(std::string(name), std::string(value));
  } else {
    if (!it->second.empty()) it->second += ", ";
    it->second += value;
  }
}

}  // namespace foundation
