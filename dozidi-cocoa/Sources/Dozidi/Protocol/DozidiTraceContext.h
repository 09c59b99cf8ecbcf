#pragma once
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiId.h"
#include "platform/foundation/Value.h"

class DozidiBaggage;
class DozidiOptions;
class DozidiScope;
class DozidiTracer;

/// The dynamic sampling context of a trace, as the "trace" entry of an envelope header carries
/// it. Immutable but for the sample rate, which is behind a lock.
class DozidiTraceContext {
 public:
  DozidiTraceContext(DozidiId traceId, std::string publicKey, std::optional<std::string> releaseName,
                     std::optional<std::string> environment, std::optional<std::string> transaction,
                     std::optional<std::string> userSegment, std::optional<std::string> sampleRate);

  /// From the "trace" dictionary of an envelope header: none when "public_key" is missing or no
  /// text. An unreadable "trace_id" gives the empty id. The user segment is the "segment" text of
  /// "user" when "user" is present (none when that is no text), else "user_segment".
  static std::shared_ptr<DozidiTraceContext> initWithDict(const foundation::Dictionary& dict);
  /// From a tracer: its trace id, the DSN's public key, the options' release and environment, the
  /// transaction's name and sample rate and the scope user's segment. None without a DSN.
  static std::shared_ptr<DozidiTraceContext> initWithTracer(const DozidiTracer& tracer, const DozidiScope& scope,
                                                            const std::shared_ptr<DozidiOptions>& options);
  /// From the tracer behind the scope's span; none when the scope has no span of a tracer.
  static std::shared_ptr<DozidiTraceContext> initWithScope(const DozidiScope& scope,
                                                           const std::shared_ptr<DozidiOptions>& options);

  const DozidiId& traceId() const { return traceId_; }
  const std::string& publicKey() const { return publicKey_; }
  const std::optional<std::string>& releaseName() const { return releaseName_; }
  const std::optional<std::string>& environment() const { return environment_; }
  const std::optional<std::string>& transaction() const { return transaction_; }
  const std::optional<std::string>& userSegment() const { return userSegment_; }
  std::optional<std::string> sampleRate() const;
  void setSampleRate(std::optional<std::string> sampleRate);

  /// "trace_id" and "public_key" always; "release", "environment", "transaction",
  /// "user_segment" and "sample_rate" when set.
  foundation::Dictionary serialize() const;
  /// The same seven values as baggage.
  DozidiBaggage toBaggage() const;

 private:
  DozidiId traceId_;
  std::string publicKey_;
  std::optional<std::string> releaseName_, environment_, transaction_, userSegment_;
  mutable std::mutex sampleRateLock_;
  std::optional<std::string> sampleRate_;
};
