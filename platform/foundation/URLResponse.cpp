#include "platform/foundation/URLResponse.h"

#include <charconv>

#include "platform/foundation/URLRequest.h"

namespace foundation {

namespace {

std::int64_t contentLength(const HTTPHeaderFields& fields) {
  auto text = fields.value("Content-Length");
  if (!text) return URLResponse::kUnknownLength;
  std::int64_t length = 0;
  auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), length);
  if (error != std::errc() || end != text->data() + text->size() || length < 0) return URLResponse::kUnknownLength;
  return length;
}

/// The media type of a "Content-Type" value, lower-cased, without its parameters.
std::optional<std::string> mimeTypeOf(const HTTPHeaderFields& fields) {
  auto text = fields.value("Content-Type");
  if (!text) return std::nullopt;
  std::string type = text->substr(0, text->find(';'));
  while (!type.empty() && (type.back() == ' ' || type.back() == '\t')) type.pop_back();
  for (char& c : type) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  if (type.empty()) return std::nullopt;
  return type;
}

}  // namespace

URLRequest::URLRequest(URL url) : url_(std::move(url)) {}

URLRequest::URLRequest(URL url, CachePolicy cachePolicy, double timeoutInterval)
    : url_(std::move(url)), cachePolicy_(cachePolicy) {
  setTimeoutInterval(timeoutInterval);
}

void URLRequest::setTimeoutInterval(double seconds) {
  timeoutInterval_ = seconds;
  explicitTimeout_ = true;
}

URLResponse::URLResponse(URL url, std::optional<std::string> mimeType, std::int64_t expectedContentLength)
    : url_(std::move(url)), mimeType_(std::move(mimeType)), expectedContentLength_(expectedContentLength) {}

HTTPURLResponse::HTTPURLResponse(URL url, int statusCode, HTTPHeaderFields headerFields)
    : URLResponse(std::move(url), mimeTypeOf(headerFields), contentLength(headerFields)),
      statusCode_(statusCode),
      headerFields_(std::move(headerFields)) {}

}  // namespace foundation
