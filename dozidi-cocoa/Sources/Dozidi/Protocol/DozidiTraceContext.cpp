#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiTraceContext.h"

#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiOptions.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiBaggage.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiTracer.h"
#include "dozidi-cocoa/Sources/Dozidi/Scope/DozidiScope.h"
#include "dozidi-cocoa/Sources/Dozidi/Scope/DozidiUser.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiDsn.h"

using foundation::Dictionary;

DozidiTraceContext::DozidiTraceContext(DozidiId traceId, std::string publicKey, std::optional<std::string> releaseName,
                                       std::optional<std::string> environment, std::optional<std::string> transaction,
                                       std::optional<std::string> userSegment, std::optional<std::string> sampleRate)
    : traceId_(std::move(traceId)),
      publicKey_(std::move(publicKey)),
      releaseName_(std::move(releaseName)),
      environment_(std::move(environment)),
      transaction_(std::move(transaction)),
      userSegment_(std::move(userSegment)),
      sampleRate_(std::move(sampleRate)) {}

std::shared_ptr<DozidiTraceContext> DozidiTraceContext::initWithDict(const Dictionary& dict) {
  auto publicKey = dict["public_key"].asString();
  if (!publicKey) return nullptr;
  const auto traceIdText = dict["trace_id"].asString();
  DozidiId traceId = traceIdText ? DozidiId::initWithUUIDString(*traceIdText) : DozidiId::empty();
  std::optional<std::string> userSegment;
  if (const auto* user = dict.find("user")) {
    userSegment = (*user)["segment"].asString();
  } else {
    userSegment = dict["user_segment"].asString();
  }
  return std::make_shared<DozidiTraceContext>(std::move(traceId), std::move(*publicKey), dict["release"].asString(),
                                              dict["environment"].asString(), dict["transaction"].asString(),
                                              std::move(userSegment), dict["sample_rate"].asString());
}

std::optional<std::string> DozidiTraceContext::sampleRate() const {
  std::lock_guard lock(sampleRateLock_);
  return sampleRate_;
}

void DozidiTraceContext::setSampleRate(std::optional<std::string> sampleRate) {
  std::lock_guard lock(sampleRateLock_);
  sampleRate_ = std::move(sampleRate);
}

Dictionary DozidiTraceContext::serialize() const {
  Dictionary result{{"trace_id", traceId_.dozidiIdString()}, {"public_key", publicKey_}};
  if (releaseName_) result.set("release", *releaseName_);
  if (environment_) result.set("environment", *environment_);
  if (transaction_) result.set("transaction", *transaction_);
  if (userSegment_) result.set("user_segment", *userSegment_);
  if (auto rate = sampleRate()) result.set("sample_rate", *rate);
  return result;
}

std::shared_ptr<DozidiTraceContext> DozidiTraceContext::initWithTracer(const DozidiTracer& tracer,
                                                                       const DozidiScope& scope,
                                                                       const std::shared_ptr<DozidiOptions>& options) {
  if (!options || !options->parsedDsn()) return nullptr;
  auto publicKey = options->parsedDsn()->url().user();
  if (!publicKey) return nullptr;
  std::optional<std::string> userSegment;
  if (auto user = scope.userObject()) userSegment = user->segment();
  const auto& context = *tracer.transactionContext();
  std::optional<std::string> sampleRate;
  if (const auto rate = context.sampleRate()) sampleRate = foundation::Number::fromDouble(*rate).stringValue();
  return std::make_shared<DozidiTraceContext>(context.traceId(), std::move(*publicKey), options->releaseName,
                                              options->environment, context.name(), std::move(userSegment),
                                              std::move(sampleRate));
}

std::shared_ptr<DozidiTraceContext> DozidiTraceContext::initWithScope(const DozidiScope& scope,
                                                                      const std::shared_ptr<DozidiOptions>& options) {
  auto tracer = DozidiTracer::getTracer(scope.span());
  if (!tracer) return nullptr;
  return initWithTracer(*tracer, scope, options);
}

DozidiBaggage DozidiTraceContext::toBaggage() const {
  return DozidiBaggage(traceId_, publicKey_, releaseName_, environment_, transaction_, userSegment_, sampleRate());
}
