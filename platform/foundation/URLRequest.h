#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Data.h"
#include "platform/foundation/HTTPHeaderFields.h"
#include "platform/foundation/URL.h"

namespace foundation {

/// How a request may use cached answers: data tasks of non-ephemeral sessions consult the shared
/// URL cache (URLCache.h) by this policy.
enum class URLRequestCachePolicy : std::uint64_t {
  UseProtocolCachePolicy = 0,
  ReloadIgnoringLocalCacheData = 1,
  ReturnCacheDataElseLoad = 2,
  ReturnCacheDataDontLoad = 3,
};

/// A URL load request: URL, method, header fields, body, cache policy and time-out. A value type.
class URLRequest {
 public:
  using CachePolicy = URLRequestCachePolicy;
  static constexpr double kDefaultTimeoutInterval = 60.0;

  /// A GET request. A request made without an explicit time-out takes its session's
  /// timeoutIntervalForRequest.
  explicit URLRequest(URL url);
  URLRequest(URL url, CachePolicy cachePolicy, double timeoutInterval);

  const URL& url() const { return url_; }
  void setURL(URL url) { url_ = std::move(url); }
  CachePolicy cachePolicy() const { return cachePolicy_; }
  void setCachePolicy(CachePolicy policy) { cachePolicy_ = policy; }
  /// Seconds without any byte sent or received after which the request fails with a time-out.
  double timeoutInterval() const { return timeoutInterval_; }
  void setTimeoutInterval(double seconds);
  /// True once a time-out was given (by the constructor or setTimeoutInterval).
  bool hasExplicitTimeoutInterval() const { return explicitTimeout_; }

  /// "GET" unless set; any token is accepted.
  const std::string& httpMethod() const { return httpMethod_; }
  void setHTTPMethod(std::string method) { httpMethod_ = std::move(method); }
  const std::optional<Data>& httpBody() const { return httpBody_; }
  void setHTTPBody(std::optional<Data> body) { httpBody_ = std::move(body); }

  const HTTPHeaderFields& allHTTPHeaderFields() const { return headers_; }
  std::optional<std::string> valueForHTTPHeaderField(std::string_view field) const { return headers_.value(field); }
  /// Sets (none: removes) one header field, whatever the case of its name.
  void setValue(std::optional<std::string> value, std::string_view field) { headers_.set(field, std::move(value)); }
  /// Adds a value to a header field, joined to an existing one by ", ".
  void addValue(std::string_view value, std::string_view field) { headers_.add(field, value); }

 private:
  URL url_;
  CachePolicy cachePolicy_ = CachePolicy::UseProtocolCachePolicy;
  double timeoutInterval_ = kDefaultTimeoutInterval;
  bool explicitTimeout_ = false;
  std::string httpMethod_ = "GET";
  std::optional<Data> httpBody_;
  HTTPHeaderFields headers_;
};

}  // namespace foundation
