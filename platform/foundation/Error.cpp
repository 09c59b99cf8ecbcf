#include "platform/foundation/Error.h"

#include <cstring>

namespace foundation {

Error::Error(std::string domain, std::int64_t code, Dictionary userInfo)
    : domain_(std::move(domain)), code_(code), userInfo_(std::move(userInfo)) {}

Error Error::withDescription(std::string domain, std::int64_t code, std::string description) {
  return Error(std::move(domain), code, Dictionary{{kLocalizedDescriptionKey, std::move(description)}});
}

Error Error::cocoa(CocoaError code, std::string description) {
  return withDescription(kCocoaErrorDomain, static_cast<std::int64_t>(code), std::move(description));
}

Error Error::url(URLError code, std::string description) {
  return withDescription(kURLErrorDomain, static_cast<std::int64_t>(code), std::move(description));
}

Error Error::posix(int errnum, const std::string& what) {
  return withDescription(kPOSIXErrorDomain, errnum, what + ": " + std::strerror(errnum));
}

std::string Error::localizedDescription() const {
  if (const std::string* text = userInfo_[kLocalizedDescriptionKey].string()) return *text;
  return "The operation couldn\u2019t be completed. (" + domain_ + " error " + std::to_string(code_) + ".)";
}

std::optional<Error> Error::underlyingError() const {
  if (const Error* e = userInfo_[kUnderlyingErrorKey].error()) return *e;
  return std::nullopt;
}

}  // namespace foundation
