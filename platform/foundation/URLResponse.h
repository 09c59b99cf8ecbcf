#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/HTTPHeaderFields.h"
#include "platform/foundation/URL.h"

namespace foundation {

/// The answer to a URL load, before or without its body: what a file:// load gives. HTTP loads
/// give an HTTPURLResponse; tell them apart with std::dynamic_pointer_cast.
class URLResponse {
 public:
  static constexpr std::int64_t kUnknownLength = -1;

  URLResponse(URL url, std::optional<std::string> mimeType, std::int64_t expectedContentLength);
  virtual ~URLResponse() = default;

  /// The URL that answered (after redirects).
  const URL& url() const { return url_; }
  const std::optional<std::string>& mimeType() const { return mimeType_; }
  /// The length announced for the body, or kUnknownLength (-1).
  std::int64_t expectedContentLength() const { return expectedContentLength_; }

 private:
  URL url_;
  std::optional<std::string> mimeType_;
  std::int64_t expectedContentLength_;
};

/// The answer of an HTTP server: status code and header fields. Header lookup ignores the case of
/// the name; repeated fields are merged into one value joined by ", ".
class HTTPURLResponse : public URLResponse {
 public:
  /// The MIME type and expected length are read from "Content-Type" and "Content-Length".
  HTTPURLResponse(URL url, int statusCode, HTTPHeaderFields headerFields);

  /// The text that names a status code to a person, lower-case ("not found" for 404); for a code
  /// without a name of its own, the name of its class ("client error" for 499).
  static std::string localizedStringForStatusCode(int statusCode);

  int statusCode() const { return statusCode_; }
  const HTTPHeaderFields& allHeaderFields() const { return headerFields_; }
  std::optional<std::string> valueForHTTPHeaderField(std::string_view field) const {
    return headerFields_.value(field);
  }

 private:
  int statusCode_;
  HTTPHeaderFields headerFields_;
};

}  // namespace foundation
