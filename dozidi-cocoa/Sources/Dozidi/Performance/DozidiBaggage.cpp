#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiBaggage.h"

#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiSerialization.h"

DozidiBaggage::DozidiBaggage(DozidiId traceId, std::string publicKey, std::optional<std::string> releaseName,
                             std::optional<std::string> environment, std::optional<std::string> transaction,
                             std::optional<std::string> userSegment, std::optional<std::string> sampleRate)
    : traceId_(std::move(traceId)),
      publicKey_(std::move(publicKey)),
      releaseName_(std::move(releaseName)),
      environment_(std::move(environment)),
      transaction_(std::move(transaction)),
      userSegment_(std::move(userSegment)),
      sampleRate_(std::move(sampleRate)) {}

std::string DozidiBaggage::toHTTPHeaderWithOriginalBaggage(
    const std::optional<foundation::Dictionary>& originalBaggage) const {
  foundation::Dictionary entries = originalBaggage.value_or(foundation::Dictionary());
  entries.set("dozidi-trace_id", traceId_.dozidiIdString());
  entries.set("dozidi-public_key", publicKey_);
  const std::pair<const char*, const std::optional<std::string>*> optional[] = {
      {"dozidi-release", &releaseName_},   {"dozidi-environment", &environment_},
      {"dozidi-transaction", &transaction_}, {"dozidi-user_segment", &userSegment_},
      {"dozidi-sample_rate", &sampleRate_}};
  for (const auto& [key, value] : optional) {
    if (*value) entries.set(key, **value);
  }
  return DozidiSerialization::baggageEncodedDictionary(entries);
}
