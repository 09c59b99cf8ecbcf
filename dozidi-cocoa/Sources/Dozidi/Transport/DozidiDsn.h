#pragma once
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/URL.h"

namespace foundation {
class Error;
}

/// The address of the reporting service and the key to send with: an http or https URL whose user
/// part is the public key, whose password part is an optional secret, and whose path ends in the
/// project id. Immutable once made; any thread may use it.
class DozidiDsn {
 public:
  /// The DSN in `text` (white space and line ends around it are ignored), or none when it does not
  /// validate; then `error`, when given, receives the first failing check with code 100.
  static std::shared_ptr<DozidiDsn> initWithString(std::string_view text, foundation::Error* error);
  /// The validation itself: the parsed URL, or none with the error as above.
  static std::optional<foundation::URL> convertDsnString(std::string_view text, foundation::Error* error);

  const foundation::URL& url() const { return url_; }
  /// SHA-1 of the URL's text (key and secret included), 40 lower-case hexadecimal characters.
  /// The cache names its folder by it.
  std::string getHash() const;
  /// Scheme, host and port of the DSN with the path "<prefix>/api/<project id>/".
  std::shared_ptr<const foundation::URL> getBaseEndpoint() const;
  /// The base endpoint followed by "envelope/"; made once, the same object afterwards.
  std::shared_ptr<const foundation::URL> getEnvelopeEndpoint() const;
  /// The base endpoint followed by "store/"; made once, the same object afterwards.
  std::shared_ptr<const foundation::URL> getStoreEndpoint() const;

 private:
  explicit DozidiDsn(foundation::URL url) : url_(std::move(url)) {}
  std::shared_ptr<const foundation::URL> endpoint(std::shared_ptr<const foundation::URL>& slot,
                                                  std::string_view lastComponent) const;

  foundation::URL url_;
  mutable std::mutex endpointLock_;
  mutable std::shared_ptr<const foundation::URL> envelopeEndpoint_;
  mutable std::shared_ptr<const foundation::URL> storeEndpoint_;
};
