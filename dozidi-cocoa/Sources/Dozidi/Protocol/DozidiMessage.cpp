#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiMessage.h"

#include <cstdio>

#include "dozidi-cocoa/Sources/Dozidi/detail/DozidiText.h"

using foundation::Dictionary;

namespace {

std::optional<std::string> cut(std::optional<std::string> text) {
  if (!text) return text;
  // Cutting inside a surrogate pair would leave text JSON cannot hold, and the whole event would
  // be replaced by a conversion-error event; the cut therefore stops before such a character.
  const auto kept = detail::prefixWithinUTF16Length(*text, DozidiMessage::kMaxLength);
  if (kept.size() != text->size()) text->resize(kept.size());
  return text;
}

}  // namespace

DozidiMessage::DozidiMessage(std::optional<std::string> formatted) : formatted_(cut(std::move(formatted))) {}

std::shared_ptr<DozidiMessage> DozidiMessage::initWithFormatted(std::optional<std::string> formatted) {
  return std::shared_ptr<DozidiMessage>(new DozidiMessage(std::move(formatted)));
}

void DozidiMessage::setMessage(std::optional<std::string> message) { message_ = cut(std::move(message)); }

Dictionary DozidiMessage::serialize() const {
  Dictionary result;
  if (formatted_) result.set("formatted", *formatted_);
  if (message_) result.set("message", *message_);
  if (params_) {
    foundation::Array params;
    for (const auto& param : *params_) params.push_back(param);
    result.set("params", std::move(params));
  }
  return result;
}

std::string DozidiMessage::description() const {
  char address[32];
  std::snprintf(address, sizeof address, "%p", static_cast<const void*>(this));
  return "<DozidiMessage: " + std::string(address) + ", " + foundation::Value(serialize()).description() + ">";
}
