#pragma once
#include <memory>
#include <optional>
#include <string>

#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiNSError.h"
#include "platform/foundation/Value.h"

/// The raw signal, Mach exception or platform error behind a caught exception. Filled on one
/// thread, then only read.
class DozidiMechanismMeta {
 public:
  static std::shared_ptr<DozidiMechanismMeta> create();

  std::optional<foundation::Dictionary> signal;
  std::optional<foundation::Dictionary> machException;
  std::optional<DozidiNSError> error;

  /// "signal" and "mach_exception" made JSON-safe, "ns_error" as the error's dictionary; each only
  /// when set.
  foundation::Dictionary serialize() const;

 private:
  DozidiMechanismMeta() = default;
};

/// How an exception was caught: by which handler, whether the app handled it, and what lies
/// behind it. Filled on one thread, then only read.
class DozidiMechanism {
 public:
  static std::shared_ptr<DozidiMechanism> initWithType(std::string type);

  std::string type;
  std::optional<std::string> desc;
  std::optional<foundation::Dictionary> data;
  std::optional<bool> handled;
  std::optional<std::string> helpLink;
  std::shared_ptr<DozidiMechanismMeta> meta;

  /// Always "type"; "description", "data" (JSON-safe), "handled", "help_link" and "meta" only
  /// when set.
  foundation::Dictionary serialize() const;

 private:
  explicit DozidiMechanism(std::string t) : type(std::move(t)) {}
};
