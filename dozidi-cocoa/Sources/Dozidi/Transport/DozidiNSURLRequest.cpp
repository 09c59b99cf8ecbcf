#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiNSURLRequest.h"

#include <chrono>

#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiEvent.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiMeta.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiFoundationHelpers.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiLog.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiDsn.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiSerialization.h"
#include "platform/foundation/Data.h"
#include "platform/foundation/Error.h"

namespace {

constexpr int kDefaultCompressionLevel = -1;

std::optional<foundation::URLRequest> makeRequest(const DozidiDsn& dsn, const foundation::URL& endpoint,
                                                  const std::string& contentType, const foundation::Data& data,
                                                  foundation::Error* error) {
  auto body = dozidi_gzippedWithCompressionLevel(data, kDefaultCompressionLevel, error);
  if (!body) return std::nullopt;
  foundation::URLRequest request(endpoint, foundation::URLRequestCachePolicy::ReloadIgnoringLocalCacheData,
                                 DozidiNSURLRequest::kRequestTimeout);
  request.setHTTPMethod("POST");
  request.setValue(DozidiNSURLRequest::authHeader(dsn), "X-Dozidi-Auth");
  request.setValue(contentType, "Content-Type");
  request.setValue(DozidiMeta::sdkName(), "User-Agent");
  request.setValue("gzip", "Content-Encoding");
  request.setHTTPBody(std::move(*body));
  return request;
}

}  // namespace

std::string DozidiNSURLRequest::authHeader(const DozidiDsn& dsn) {
  // The service checks the time against its own clock, so this is the system's time, not the
  // reporter's replaceable clock.
  const auto seconds =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
  std::string text = "Dozidi dozidi_version=7,dozidi_client=" + DozidiMeta::sdkName() + "/" +
                     DozidiMeta::versionString() + ",dozidi_timestamp=" + std::to_string(seconds) +
                     ",dozidi_key=" + dsn.url().user().value_or("");
  if (const auto secret = dsn.url().password()) text += ",dozidi_secret=" + *secret;
  return text;
}

std::optional<foundation::URLRequest> DozidiNSURLRequest::initEnvelopeRequestWithDsn(const DozidiDsn& dsn,
                                                                                    const foundation::Data& data,
                                                                                    foundation::Error* error) {
  return makeRequest(dsn, *dsn.getEnvelopeEndpoint(), "application/x-dozidi-envelope", data, error);
}

std::optional<foundation::URLRequest> DozidiNSURLRequest::initStoreRequestWithDsn(const DozidiDsn& dsn,
                                                                                 const foundation::Data& data,
                                                                                 foundation::Error* error) {
  return makeRequest(dsn, *dsn.getStoreEndpoint(), "application/json", data, error);
}

std::optional<foundation::URLRequest> DozidiNSURLRequest::initStoreRequestWithDsn(const DozidiDsn& dsn,
                                                                                 DozidiEvent& event,
                                                                                 foundation::Error* error) {
  const auto json = event.jsonData(error);
  if (!json) return std::nullopt;
  if (DozidiLog::isDebug()) {
    DOZIDI_LOG_DEBUG("Sending JSON -------------------------------");
    DOZIDI_LOG_DEBUG(std::string(json->view()));
    DOZIDI_LOG_DEBUG("--------------------------------------------");
  }
  return initStoreRequestWithDsn(dsn, *json, error);
}
