#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiRequest.h"

#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiFoundationHelpers.h"

using foundation::Dictionary;

std::shared_ptr<DozidiRequest> DozidiRequest::create() { return std::shared_ptr<DozidiRequest>(new DozidiRequest()); }

#define DOZIDI_REQUEST_FIELD(Type, getter, setter, member) \
  Type DozidiRequest::getter() const {                    \
    std::lock_guard lock(lock_);                          \
    return member;                                        \
  }                                                       \
  void DozidiRequest::setter(Type value) {                \
    std::lock_guard lock(lock_);                          \
    member = std::move(value);                            \
  }
DOZIDI_REQUEST_FIELD(std::optional<foundation::Number>, bodySize, setBodySize, bodySize_)
DOZIDI_REQUEST_FIELD(std::optional<std::string>, cookies, setCookies, cookies_)
DOZIDI_REQUEST_FIELD(std::optional<Dictionary>, headers, setHeaders, headers_)
DOZIDI_REQUEST_FIELD(std::optional<std::string>, fragment, setFragment, fragment_)
DOZIDI_REQUEST_FIELD(std::optional<std::string>, method, setMethod, method_)
DOZIDI_REQUEST_FIELD(std::optional<std::string>, queryString, setQueryString, queryString_)
DOZIDI_REQUEST_FIELD(std::optional<std::string>, url, setUrl, url_)
#undef DOZIDI_REQUEST_FIELD

Dictionary DozidiRequest::serialize() const {
  std::lock_guard lock(lock_);
  Dictionary result;
  // The whole 64-bit size is tested: a body of exactly 4 GiB has a size too.
  if (bodySize_ && bodySize_->int64Value() != 0) result.set("body_size", *bodySize_);
  if (cookies_) result.set("cookies", *cookies_);
  if (fragment_) result.set("fragment", *fragment_);
  if (headers_) result.set("headers", dozidi_sanitize(*headers_));
  if (method_) result.set("method", *method_);
  if (queryString_) result.set("query_string", *queryString_);
  if (url_) result.set("url", *url_);
  return result;
}
