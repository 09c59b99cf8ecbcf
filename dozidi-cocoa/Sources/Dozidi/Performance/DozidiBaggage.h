#pragma once
#include <optional>
#include <string>

#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiId.h"
#include "platform/foundation/Value.h"

/// The dynamic sampling context as the "baggage" header of an outgoing request carries it, in
/// entries named "dozidi-...". An immutable value.
class DozidiBaggage {
 public:
  DozidiBaggage(DozidiId traceId, std::string publicKey, std::optional<std::string> releaseName,
                std::optional<std::string> environment, std::optional<std::string> transaction,
                std::optional<std::string> userSegment, std::optional<std::string> sampleRate);

  const DozidiId& traceId() const { return traceId_; }
  const std::string& publicKey() const { return publicKey_; }

  std::string toHTTPHeader() const { return toHTTPHeaderWithOriginalBaggage(std::nullopt); }
  /// The entries already in a request's baggage header, with this trace's "dozidi-" entries set
  /// over them (an optional value replaces an entry only when it is set), as header text.
  std::string toHTTPHeaderWithOriginalBaggage(const std::optional<foundation::Dictionary>& originalBaggage) const;

 private:
  DozidiId traceId_;
  std::string publicKey_;
  std::optional<std::string> releaseName_, environment_, transaction_, userSegment_, sampleRate_;
};
