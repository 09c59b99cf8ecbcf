#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashCString.h"

#include <cstring>
#include <new>

#include "platform/foundation/Data.h"

std::shared_ptr<DozidiCrashCString> DozidiCrashCString::stringWithData(const void* bytes, std::size_t length) {
  std::shared_ptr<DozidiCrashCString> string(new DozidiCrashCString());
  if (bytes == nullptr && length > 0) return string;
  // A failed allocation leaves the object empty instead of throwing out of the recorder.
  string->bytes_.reset(length < SIZE_MAX ? new (std::nothrow) char[length + 1] : nullptr);
  if (!string->bytes_) return string;
  if (length > 0) std::memcpy(string->bytes_.get(), bytes, length);
  string->bytes_[length] = '\0';
  string->length_ = length;
  return string;
}

std::shared_ptr<DozidiCrashCString> DozidiCrashCString::stringWithCString(const char* cString) {
  if (cString == nullptr) return std::shared_ptr<DozidiCrashCString>(new DozidiCrashCString());
  return stringWithData(cString, std::strlen(cString));
}

std::shared_ptr<DozidiCrashCString> DozidiCrashCString::stringWithString(std::string_view text) {
  return stringWithData(text.data(), text.substr(0, text.find('\0')).size());
}

std::shared_ptr<DozidiCrashCString> DozidiCrashCString::stringWithData(const foundation::Data& data) {
  return stringWithData(data.data(), data.size());
}
