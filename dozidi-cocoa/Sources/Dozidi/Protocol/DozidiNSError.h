#pragma once
#include <cstdint>
#include <string>

#include "platform/foundation/Value.h"

/// The domain and code of a platform error, as an exception mechanism's meta data carries them.
/// An immutable value.
class DozidiNSError {
 public:
  DozidiNSError(std::string domain, std::int64_t code) : domain_(std::move(domain)), code_(code) {}

  const std::string& domain() const { return domain_; }
  std::int64_t code() const { return code_; }
  /// {"domain": text, "code": signed number}
  foundation::Dictionary serialize() const { return foundation::Dictionary{{"domain", domain_}, {"code", code_}}; }

 private:
  std::string domain_;
  std::int64_t code_;
};
