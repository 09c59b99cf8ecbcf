#pragma once
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/foundation/Number.h"
#include "platform/foundation/Value.h"

/// The HTTP request of an event (a failed request the network tracker caught). Any thread may
/// set and read it: every field is behind the request's lock.
class DozidiRequest {
 public:
  static std::shared_ptr<DozidiRequest> create();

  std::optional<foundation::Number> bodySize() const;
  void setBodySize(std::optional<foundation::Number> value);
  std::optional<std::string> cookies() const;
  void setCookies(std::optional<std::string> value);
  std::optional<foundation::Dictionary> headers() const;
  void setHeaders(std::optional<foundation::Dictionary> value);
  std::optional<std::string> fragment() const;
  void setFragment(std::optional<std::string> value);
  std::optional<std::string> method() const;
  void setMethod(std::optional<std::string> value);
  std::optional<std::string> queryString() const;
  void setQueryString(std::optional<std::string> value);
  std::optional<std::string> url() const;
  void setUrl(std::optional<std::string> value);

  /// "body_size" when the size is set and not 0, "cookies", "fragment", "headers" (JSON-safe),
  /// "method", "query_string" and "url", each only when set.
  foundation::Dictionary serialize() const;

 private:
  DozidiRequest() = default;
  mutable std::mutex lock_;
  std::optional<foundation::Number> bodySize_;
  std::optional<std::string> cookies_;
  std::optional<foundation::Dictionary> headers_;
  std::optional<std::string> fragment_;
  std::optional<std::string> method_;
  std::optional<std::string> queryString_;
  std::optional<std::string> url_;
};
