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

struct StatusText {
  int code;
  const char* text;
};

// The standard reason phrases, lower-cased as the platform shows them.
constexpr StatusText kStatusTexts[] = {
    {100, "continue"}, {101, "switching protocols"}, {103, "early hints"},
    {200, "no error"}, {201, "created"}, {202, "accepted"}, {203, "non-authoritative information"},
    {204, "no content"}, {205, "reset content"}, {206, "partial content"},
    {300, "multiple choices"}, {301, "moved permanently"}, {302, "found"}, {303, "see other"},
    {304, "not modified"}, {305, "use proxy"}, {307, "temporarily redirected"}, {308, "permanent redirect"},
    {400, "bad request"}, {401, "unauthorized"}, {402, "payment required"}, {403, "forbidden"},
    {404, "not found"}, {405, "method not allowed"}, {406, "unacceptable"}, {407, "proxy authentication required"},
    {408, "request timed out"}, {409, "conflict"}, {410, "no longer exists"}, {411, "length required"},
    {412, "precondition failed"}, {413, "request too large"}, {414, "requested URL too long"},
    {415, "unsupported media type"}, {416, "requested range not satisfiable"}, {417, "expectation failed"},
    {421, "misdirected request"}, {422, "unprocessable content"}, {425, "too early"}, {426, "upgrade required"},
    {428, "precondition required"}, {429, "too many requests"}, {431, "request header fields too large"},
    {451, "unavailable for legal reasons"},
    {500, "internal server error"}, {501, "unimplemented"}, {502, "bad gateway"}, {503, "service unavailable"},
    {504, "gateway timed out"}, {505, "unsupported version"}, {511, "network authentication required"},
};

}  // namespace

std::string HTTPURLResponse::localizedStringForStatusCode(int statusCode) {
  for (const auto& entry : kStatusTexts) {
    if (entry.code == statusCode) return entry.text;
  }
  switch (statusCode / 100) {
    case 1: return "informational";
    case 2: return "success";
    case 3: return "redirected";
    case 4: return "client error";
    case 5: return "server error";
    default: return "server error";
  }
}

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
