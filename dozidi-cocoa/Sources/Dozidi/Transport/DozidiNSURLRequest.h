#pragma once
#include <optional>
#include <string>

#include "platform/foundation/URLRequest.h"

namespace foundation {
class Data;
class Error;
}  // namespace foundation
class DozidiDsn;
class DozidiEvent;

/// The requests that carry data to the reporting service.
class DozidiNSURLRequest {
 public:
  DozidiNSURLRequest() = delete;

  /// Seconds without any byte sent or received after which an upload fails.
  static constexpr double kRequestTimeout = 15.0;

  /// POST of `data` (envelope text), gzipped, to the DSN's envelope endpoint, with the service's
  /// headers. None, with `error` set when given, when the body cannot be compressed: a request
  /// without its body is never made.
  static std::optional<foundation::URLRequest> initEnvelopeRequestWithDsn(const DozidiDsn& dsn,
                                                                         const foundation::Data& data,
                                                                         foundation::Error* error);
  /// The same for `data` as JSON to the DSN's store endpoint.
  static std::optional<foundation::URLRequest> initStoreRequestWithDsn(const DozidiDsn& dsn,
                                                                      const foundation::Data& data,
                                                                      foundation::Error* error);

  /// The event's JSON as a store request. None, with `error` set when given, when the event
  /// cannot be written as JSON (code 104, "Event cannot be converted to JSON") or compressed.
  /// With debug logging on, the JSON text is logged first.
  static std::optional<foundation::URLRequest> initStoreRequestWithDsn(const DozidiDsn& dsn, DozidiEvent& event,
                                                                      foundation::Error* error);

  /// "Dozidi dozidi_version=7,dozidi_client=<name>/<version>,dozidi_timestamp=<seconds>,
  /// dozidi_key=<public key>[,dozidi_secret=<secret>]", the time being the system's wall clock in
  /// whole seconds since 1970.
  static std::string authHeader(const DozidiDsn& dsn);
};
