#pragma once
#include <optional>
#include <string>

#include "platform/foundation/Value.h"

/// The name and version of the SDK that sent an event or envelope. An immutable value.
class DozidiSdkInfo {
 public:
  /// Keeps each text; none becomes the empty text.
  DozidiSdkInfo(std::optional<std::string> name, std::optional<std::string> version);
  /// From the "sdk" dictionary inside `dict`: its "name" and "version" where they are texts, else
  /// those of `defaults` when given. When "sdk" is missing or no dictionary, both are empty and
  /// the defaults are not used.
  static DozidiSdkInfo initWithDict(const foundation::Dictionary& dict, const DozidiSdkInfo* defaults = nullptr);

  const std::string& name() const { return name_; }
  const std::string& version() const { return version_; }
  /// {"sdk": {"name": name, "version": version}}
  foundation::Dictionary serialize() const;

  friend bool operator==(const DozidiSdkInfo&, const DozidiSdkInfo&) = default;

 private:
  std::string name_;
  std::string version_;
};
