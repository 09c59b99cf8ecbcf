#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiNSURLRequestBuilder.h"

#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiNSURLRequest.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiSerialization.h"
#include "platform/foundation/Error.h"

std::optional<foundation::URLRequest> DozidiNSURLRequestBuilder::createEnvelopeRequest(const DozidiEnvelope& envelope,
                                                                                      const DozidiDsn& dsn,
                                                                                      foundation::Error* error) {
  const auto data = DozidiSerialization::dataWithEnvelope(envelope, error);
  if (!data) return std::nullopt;
  return DozidiNSURLRequest::initEnvelopeRequestWithDsn(dsn, *data, error);
}
