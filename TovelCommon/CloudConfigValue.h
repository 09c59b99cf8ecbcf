#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "TovelCommon/JSONCoding.h"
#include "platform/foundation/URL.h"
#include "platform/foundation/Value.h"

namespace tovel {

/// Resolves a link from the configuration against the URL of the configuration file that served
/// it: a text with a scheme is returned as parsed; a relative one is resolved against `baseUrl`
/// (RFC 3986), falling back to the parsed relative URL when that cannot be done. None when `text`
/// is not a URL.
std::optional<foundation::URL> resolveConfigURL(std::string_view text, const std::optional<foundation::URL>& baseUrl);

/// One value looked up in the remote configuration (CloudConfig::Value), with the URL of the file
/// it came from. The typed accessors yield none when the raw value has another type.
struct CloudConfigValue {
  foundation::Value raw;
  foundation::URL baseUrl;

  /// `raw` when it is a text.
  std::optional<std::string> string() const;
  /// `raw` when it is a number (not a bool) whose value is exactly an integer that fits: 3.0 gives
  /// 3, 3.5 none.
  std::optional<std::int64_t> integer() const;
  /// True for JSON true or a number equal to 1, false for JSON false or a number equal to 0.
  std::optional<bool> boolean() const;
  /// `raw` when it is a list of texts only (the empty list included).
  std::optional<std::vector<std::string>> stringArray() const;
  /// `raw` resolved with resolveConfigURL when it is a text.
  std::optional<foundation::URL> url() const;
  /// `raw` written as JSON and decoded as T; only a list or a map can be decoded.
  template <JSONDecodable T>
  std::optional<T> decode() const {
    auto value = jsonRoundTrip(raw);
    if (!value) return std::nullopt;
    auto decoded = JSONCoding<T>::decode(*value);
    if (!decoded) return std::nullopt;
    return std::move(*decoded);
  }

 private:
  /// `raw` serialised as JSON text with no options and read back; none for anything but a list or map.
  static std::optional<foundation::Value> jsonRoundTrip(const foundation::Value& raw);
};

}  // namespace tovel
