#pragma once
#include <memory>
#include <string>

#include "platform/foundation/Date.h"
#include "platform/foundation/Value.h"

/// Facts about one run of the app, kept in "app.state" so that the next launch can compare them
/// with its own: the release, the system, the debugger, the boot, and the lifecycle flags.
class DozidiAppState {
 public:
  /// The boot date is kept at the nearest whole second (half away from zero); the three lifecycle
  /// flags start false.
  DozidiAppState(std::string releaseName, std::string osVersion, std::string vendorId, bool isDebugging,
                 foundation::Date systemBootTimestamp);

  /// The record of a stored JSON object; none when any of the eight keys is missing, of the wrong
  /// kind or (the boot timestamp) not an ISO 8601 text.
  static std::shared_ptr<DozidiAppState> initWithJSONObject(const foundation::Dictionary& json);
  /// All eight keys, always.
  foundation::Dictionary serialize() const;

  const std::string& releaseName() const { return releaseName_; }
  const std::string& osVersion() const { return osVersion_; }
  const std::string& vendorId() const { return vendorId_; }
  bool isDebugging() const { return isDebugging_; }
  foundation::Date systemBootTimestamp() const { return systemBootTimestamp_; }
  bool isActive() const { return isActive_; }
  bool wasTerminated() const { return wasTerminated_; }
  bool isANROngoing() const { return isANROngoing_; }
  void setIsActive(bool value) { isActive_ = value; }
  void setWasTerminated(bool value) { wasTerminated_ = value; }
  void setIsANROngoing(bool value) { isANROngoing_ = value; }

 private:
  std::string releaseName_, osVersion_, vendorId_;
  bool isDebugging_ = false;
  foundation::Date systemBootTimestamp_;
  bool isActive_ = false, wasTerminated_ = false, isANROngoing_ = false;
};
