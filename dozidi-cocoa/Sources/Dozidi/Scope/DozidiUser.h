#pragma once
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/foundation/Value.h"

/// The person using the app. The scope holds one and copies it onto events and sessions. Any
/// thread may use it: every field is read and written under the user's lock.
class DozidiUser {
 public:
  static std::shared_ptr<DozidiUser> create();
  static std::shared_ptr<DozidiUser> initWithUserId(std::string userId);

  std::optional<std::string> userId() const;
  void setUserId(std::optional<std::string> value);
  std::optional<std::string> email() const;
  void setEmail(std::optional<std::string> value);
  std::optional<std::string> username() const;
  void setUsername(std::optional<std::string> value);
  std::optional<std::string> ipAddress() const;
  void setIpAddress(std::optional<std::string> value);
  std::optional<std::string> segment() const;
  void setSegment(std::optional<std::string> value);
  std::optional<foundation::Dictionary> data() const;
  void setData(std::optional<foundation::Dictionary> value);

  /// A new user with the same fields; later changes of either do not reach the other.
  std::shared_ptr<DozidiUser> copy() const;
  /// "id", "email", "username", "ip_address", "segment" and "data" (made JSON-safe), each only
  /// when set.
  foundation::Dictionary serialize() const;
  /// Equal when every field is equal; a field set on one side only makes them unequal.
  bool isEqualToUser(const DozidiUser* other) const;
  /// Agrees with isEqualToUser.
  std::size_t hash() const;

 private:
  struct Fields {
    std::optional<std::string> userId, email, username, ipAddress, segment;
    std::optional<foundation::Dictionary> data;
    friend bool operator==(const Fields&, const Fields&) = default;
  };
  DozidiUser() = default;
  Fields fields() const;

  mutable std::mutex lock_;
  Fields fields_;
};
