#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiDsn.h"

#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashSHA1.h"

#include <cstdio>
#include <vector>

#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiError.h"
#include "platform/foundation/Error.h"

using foundation::URL;

namespace {

// Length in bytes of a white-space or line-end character at the start of `text`, else 0. Covers
// the ASCII ones and the Unicode spaces and line separators, as the platform's trim does.
std::size_t leadingSpaceLength(std::string_view text) {
  static constexpr std::string_view kMultiByteSpaces[] = {
      "\u0085", "\u00A0", "\u1680", "\u2000", "\u2001", "\u2002", "\u2003", "\u2004", "\u2005",
      "\u2006", "\u2007", "\u2008", "\u2009", "\u200A", "\u2028", "\u2029", "\u202F", "\u205F", "\u3000"};
  if (text.empty()) return 0;
  if (std::string_view(" \t\n\r\v\f").find(text.front()) != std::string_view::npos) return 1;
  for (auto space : kMultiByteSpaces) {
    if (text.starts_with(space)) return space.size();
  }
  return 0;
}

std::size_t trailingSpaceLength(std::string_view text) {
  if (text.empty()) return 0;
  if (std::string_view(" \t\n\r\v\f").find(text.back()) != std::string_view::npos) return 1;
  // A multi-byte space is at most three bytes long; try each length from its possible start.
  for (std::size_t length = 2; length <= 3 && length <= text.size(); ++length) {
    if (leadingSpaceLength(text.substr(text.size() - length)) == length) return length;
  }
  return 0;
}

std::string_view trimmed(std::string_view text) {
  while (std::size_t n = leadingSpaceLength(text)) text.remove_prefix(n);
  while (std::size_t n = trailingSpaceLength(text)) text.remove_suffix(n);
  return text;
}

// The scheme exactly as written (URL keeps it lower-cased; the DSN accepts only lower case).
std::string_view writtenScheme(const URL& url) {
  const std::string& text = url.absoluteString();
  return std::string_view(text).substr(0, text.find(':'));
}

std::optional<URL> fail(foundation::Error* error, const char* message) {
  if (error) *error = NSErrorFromDozidiError(DozidiError::InvalidDsnError, message);
  return std::nullopt;
}

}  // namespace

std::optional<URL> DozidiDsn::convertDsnString(std::string_view text, foundation::Error* error) {
  auto url = URL::parse(trimmed(text));
  if (!url || !url->hasScheme()) return fail(error, "URL scheme of DSN is missing");
  const auto scheme = writtenScheme(*url);
  if (scheme != "http" && scheme != "https") return fail(error, "Unrecognized URL scheme in DSN");
  if (!url->host() || url->host()->empty()) return fail(error, "Host component of DSN is missing");
  if (!url->user() || url->user()->empty()) return fail(error, "User component of DSN is missing");
  if (url->pathComponents().size() < 2) return fail(error, "Project ID path component of DSN is missing");
  return url;
}

std::shared_ptr<DozidiDsn> DozidiDsn::initWithString(std::string_view text, foundation::Error* error) {
  // A DSN that does not validate never yields an object, with or without an error slot: an object
  // without a URL would have no endpoints and no hash.
  auto url = convertDsnString(text, error);
  if (!url) return nullptr;
  return std::shared_ptr<DozidiDsn>(new DozidiDsn(std::move(*url)));
}

std::string DozidiDsn::getHash() const { return dozidicrash_sha1Hex(url_.absoluteString()); }

std::shared_ptr<const URL> DozidiDsn::getBaseEndpoint() const {
  const auto components = url_.pathComponents();
  // The leading "/" is the first component and the project id the last; what lies between is the
  // path prefix of a service reached below the host's root.
  std::string prefix;
  if (components.size() >= 3) {
    for (std::size_t i = 1; i + 1 < components.size(); ++i) prefix += "/" + components[i];
  }
  foundation::URLComponents parts;
  parts.scheme = url_.scheme();
  parts.host = url_.host();
  parts.port = url_.port();
  parts.path = prefix + "/api/" + components.back() + "/";
  auto base = parts.url();
  // A validated DSN always has a scheme, a host and a path, so the parts form a URL.
  return base ? std::make_shared<const URL>(std::move(*base)) : nullptr;
}

std::shared_ptr<const URL> DozidiDsn::endpoint(std::shared_ptr<const URL>& slot,
                                               std::string_view lastComponent) const {
  std::lock_guard lock(endpointLock_);
  if (!slot) {
    auto base = getBaseEndpoint();
    if (base) slot = std::make_shared<const URL>(base->appendingPathComponent(lastComponent, true));
  }
  return slot;
}

std::shared_ptr<const URL> DozidiDsn::getEnvelopeEndpoint() const { return endpoint(envelopeEndpoint_, "envelope"); }

std::shared_ptr<const URL> DozidiDsn::getStoreEndpoint() const { return endpoint(storeEndpoint_, "store"); }
