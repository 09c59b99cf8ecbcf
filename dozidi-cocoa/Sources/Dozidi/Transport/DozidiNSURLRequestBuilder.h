#pragma once
#include <optional>

#include "platform/foundation/URLRequest.h"

namespace foundation {
class Error;
}
class DozidiDsn;
class DozidiEnvelope;

/// Makes the upload request of an envelope. Keeps no state: any thread may call it.
class DozidiNSURLRequestBuilder {
 public:
  virtual ~DozidiNSURLRequestBuilder() = default;

  /// The envelope's text, gzipped, as a request to the DSN's envelope endpoint. None, with
  /// `error` set when given, when the text cannot be written or compressed: an upload without its
  /// body is never made.
  virtual std::optional<foundation::URLRequest> createEnvelopeRequest(const DozidiEnvelope& envelope,
                                                                     const DozidiDsn& dsn, foundation::Error* error);
};
