#include "dozidi-cocoa/Sources/Dozidi/DozidiTraceContext.h"

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
