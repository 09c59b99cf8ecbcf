#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiSession.h"

#include <array>

#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiCurrentDate.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiFoundationHelpers.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiInstallation.h"

using foundation::Dictionary;

namespace {

constexpr std::array<const char*, 4> kStatusNames = {"ok", "exited", "crashed", "abnormal"};

std::optional<DozidiSessionStatus> statusForName(const std::string& name) {
  for (std::size_t i = 0; i < kStatusNames.size(); ++i) {
    if (name == kStatusNames[i]) return static_cast<DozidiSessionStatus>(i);
  }
  return std::nullopt;
}

std::optional<std::uint64_t> unsignedNumber(const foundation::Value& value) {
  const auto* number = value.number();
  if (!number || number->isBool()) return std::nullopt;
  return number->exactUInt64();
}

}  // namespace

std::shared_ptr<DozidiSession> DozidiSession::initDefault() {
  auto session = std::shared_ptr<DozidiSession>(new DozidiSession(foundation::UUID(), DozidiCurrentDate::date()));
  session->distinctId_ = DozidiInstallation::id();
  return session;
}

std::shared_ptr<DozidiSession> DozidiSession::initWithReleaseName(std::string releaseName) {
  auto session = initDefault();
  session->flagInit_ = true;
  session->releaseName_ = std::move(releaseName);
  return session;
}

std::shared_ptr<DozidiSession> DozidiSession::initWithJSONObject(const Dictionary& json) {
  const auto sidText = json["sid"].asString();
  const auto sid = sidText ? foundation::UUID::fromString(*sidText) : std::nullopt;
  if (!sid) return nullptr;
  const auto startedText = json["started"].asString();
  const auto started = startedText ? dozidi_fromIso8601String(*startedText) : std::nullopt;
  if (!started) return nullptr;
  const auto statusText = json["status"].asString();
  const auto status = statusText ? statusForName(*statusText) : std::nullopt;
  if (!status) return nullptr;
  const auto sequence = unsignedNumber(json["seq"]);
  if (!sequence) return nullptr;
  const auto errors = unsignedNumber(json["errors"]);
  if (!errors) return nullptr;
  auto distinctId = json["did"].asString();
  if (!distinctId) return nullptr;

  auto session = std::shared_ptr<DozidiSession>(new DozidiSession(*sid, *started));
  session->status_ = *status;
  session->sequence_ = *sequence;
  session->errors_ = *errors;
  session->distinctId_ = std::move(distinctId);
  if (const auto* init = json["init"].number()) session->flagInit_ = init->boolValue();
  if (const auto* attrs = json["attrs"].dictionary()) {
    session->releaseName_ = (*attrs)["release"].asString();
    session->environment_ = (*attrs)["environment"].asString();
  }
  if (const auto timestamp = json["timestamp"].asString()) session->timestamp_ = dozidi_fromIso8601String(*timestamp);
  if (const auto* duration = json["duration"].number()) session->duration_ = duration->doubleValue();
  return session;
}

std::shared_ptr<DozidiSession> DozidiSession::copy() const {
  std::lock_guard lock(lock_);
  auto other = std::shared_ptr<DozidiSession>(new DozidiSession(sessionId_, started_));
  other->flagInit_ = flagInit_;
  other->status_ = status_;
  other->errors_ = errors_;
  other->sequence_ = sequence_;
  other->distinctId_ = distinctId_;
  other->timestamp_ = timestamp_;
  other->duration_ = duration_;
  other->releaseName_ = releaseName_;
  other->environment_ = environment_;
  other->user_ = user_ ? user_->copy() : nullptr;
  return other;
}

std::optional<bool> DozidiSession::flagInit() const {
  std::lock_guard lock(lock_);
  return flagInit_;
}
void DozidiSession::setFlagInit() {
  std::lock_guard lock(lock_);
  flagInit_ = true;
}
DozidiSessionStatus DozidiSession::status() const {
  std::lock_guard lock(lock_);
  return status_;
}
std::uint64_t DozidiSession::errors() const {
  std::lock_guard lock(lock_);
  return errors_;
}
std::uint64_t DozidiSession::sequence() const {
  std::lock_guard lock(lock_);
  return sequence_;
}
std::optional<std::string> DozidiSession::distinctId() const {
  std::lock_guard lock(lock_);
  return distinctId_;
}
std::optional<foundation::Date> DozidiSession::timestamp() const {
  std::lock_guard lock(lock_);
  return timestamp_;
}
std::optional<double> DozidiSession::duration() const {
  std::lock_guard lock(lock_);
  return duration_;
}
std::optional<std::string> DozidiSession::releaseName() const {
  std::lock_guard lock(lock_);
  return releaseName_;
}
std::optional<std::string> DozidiSession::environment() const {
  std::lock_guard lock(lock_);
  return environment_;
}
void DozidiSession::setEnvironment(std::optional<std::string> environment) {
  std::lock_guard lock(lock_);
  environment_ = std::move(environment);
}
std::shared_ptr<DozidiUser> DozidiSession::user() const {
  std::lock_guard lock(lock_);
  return user_;
}
void DozidiSession::setUser(const std::shared_ptr<DozidiUser>& user) {
  auto copy = user ? user->copy() : nullptr;
  std::lock_guard lock(lock_);
  user_ = std::move(copy);
}

void DozidiSession::endSessionExitedWithTimestamp(foundation::Date timestamp) {
  endWithStatus(DozidiSessionStatus::Exited, timestamp);
}
void DozidiSession::endSessionCrashedWithTimestamp(foundation::Date timestamp) {
  endWithStatus(DozidiSessionStatus::Crashed, timestamp);
}
void DozidiSession::endSessionAbnormalWithTimestamp(foundation::Date timestamp) {
  endWithStatus(DozidiSessionStatus::Abnormal, timestamp);
}

void DozidiSession::endWithStatus(DozidiSessionStatus status, foundation::Date timestamp) {
  std::lock_guard lock(lock_);
  changed();
  status_ = status;
  endSessionWithTimestamp(timestamp);
}

void DozidiSession::endSessionWithTimestamp(foundation::Date timestamp) {
  std::lock_guard lock(lock_);
  timestamp_ = timestamp;
  duration_ = timestamp.timeIntervalSince(started_);
}

void DozidiSession::changed() {
  std::lock_guard lock(lock_);
  flagInit_.reset();
  ++sequence_;
}

void DozidiSession::incrementErrors() {
  std::lock_guard lock(lock_);
  changed();
  ++errors_;
}

Dictionary DozidiSession::serialize() const {
  std::lock_guard lock(lock_);
  Dictionary result;
  result.set("sid", sessionId_.uuidString());
  result.set("errors", errors_);
  result.set("started", dozidi_toIso8601String(started_));
  if (flagInit_) result.set("init", *flagInit_);
  const auto statusIndex = static_cast<std::uint64_t>(status_);
  result.set("status", statusIndex < kStatusNames.size() ? kStatusNames[statusIndex] : "ok");
  result.set("timestamp", dozidi_toIso8601String(timestamp_.value_or(DozidiCurrentDate::date())));
  if (duration_) {
    result.set("duration", *duration_);
  } else if (!flagInit_) {
    result.set("duration", timestamp_ ? timestamp_->timeIntervalSince(started_) : 0.0);
  }
  result.set("seq", sequence_);
  Dictionary attrs;
  if (releaseName_) attrs.set("release", *releaseName_);
  if (environment_) attrs.set("environment", *environment_);
  if (!attrs.empty()) result.set("attrs", std::move(attrs));
  if (distinctId_) result.set("did", *distinctId_);
  return result;
}
