#include "dozidi-cocoa/Sources/Dozidi/Scope/DozidiUser.h"

#include <functional>

#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiFoundationHelpers.h"

using foundation::Dictionary;

std::shared_ptr<DozidiUser> DozidiUser::create() { return std::shared_ptr<DozidiUser>(new DozidiUser()); }

std::shared_ptr<DozidiUser> DozidiUser::initWithUserId(std::string userId) {
  auto user = create();
  user->setUserId(std::move(userId));
  return user;
}

#define DOZIDI_USER_FIELD(Type, getter, setter)             \
  Type DozidiUser::getter() const {                        \
    std::lock_guard lock(lock_);                           \
    return fields_.getter;                                 \
  }                                                        \
  void DozidiUser::setter(Type value) {                    \
    std::lock_guard lock(lock_);                           \
    fields_.getter = std::move(value);                     \
  }
DOZIDI_USER_FIELD(std::optional<std::string>, userId, setUserId)
DOZIDI_USER_FIELD(std::optional<std::string>, email, setEmail)
DOZIDI_USER_FIELD(std::optional<std::string>, username, setUsername)
DOZIDI_USER_FIELD(std::optional<std::string>, ipAddress, setIpAddress)
DOZIDI_USER_FIELD(std::optional<std::string>, segment, setSegment)
DOZIDI_USER_FIELD(std::optional<Dictionary>, data, setData)
#undef DOZIDI_USER_FIELD

DozidiUser::Fields DozidiUser::fields() const {
  std::lock_guard lock(lock_);
  return fields_;
}

std::shared_ptr<DozidiUser> DozidiUser::copy() const {
  auto user = create();
  user->fields_ = fields();
  return user;
}

Dictionary DozidiUser::serialize() const {
  const Fields f = fields();
  Dictionary result;
  if (f.userId) result.set("id", *f.userId);
  if (f.email) result.set("email", *f.email);
  if (f.username) result.set("username", *f.username);
  if (f.ipAddress) result.set("ip_address", *f.ipAddress);
  if (f.segment) result.set("segment", *f.segment);
  if (f.data) result.set("data", dozidi_sanitize(*f.data));
  return result;
}

bool DozidiUser::isEqualToUser(const DozidiUser* other) const {
  if (other == this) return true;
  if (!other) return false;
  // Each user's fields are copied under its own lock; the two locks are never held together, so
  // two threads comparing a with b and b with a cannot deadlock.
  return fields() == other->fields();
}

std::size_t DozidiUser::hash() const {
  const Fields f = fields();
  std::size_t hash = 17;
  const auto mix = [&](std::size_t fieldHash) { hash = hash * 23 + fieldHash; };
  for (const auto* text : {&f.userId, &f.email, &f.username, &f.ipAddress, &f.segment}) {
    mix(*text ? std::hash<std::string>()(**text) : 0);
  }
  // Equal dictionaries have equal entry counts, which keeps the hash in step with equality.
  mix(f.data ? f.data->size() : 0);
  return hash;
}
