#include "dozidi-cocoa/Sources/Dozidi/Integrations/DozidiAppState.h"

#include <cmath>

#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiFoundationHelpers.h"

using foundation::Dictionary;
using foundation::Value;

DozidiAppState::DozidiAppState(std::string releaseName, std::string osVersion, std::string vendorId, bool isDebugging,
                               foundation::Date systemBootTimestamp)
    : releaseName_(std::move(releaseName)),
      osVersion_(std::move(osVersion)),
      vendorId_(std::move(vendorId)),
      isDebugging_(isDebugging),
      systemBootTimestamp_(foundation::Date::fromTimeIntervalSince1970(std::round(systemBootTimestamp.timeIntervalSince1970()))) {}

namespace {

const std::string* textOf(const Dictionary& json, std::string_view key) {
  const Value* value = json.find(key);
  return value != nullptr ? value->string() : nullptr;
}

// The flags are read as the platform reads a number's boolean value: any number, true unless 0.
const foundation::Number* numberOf(const Dictionary& json, std::string_view key) {
  const Value* value = json.find(key);
  return value != nullptr ? value->number() : nullptr;
}

}  // namespace

std::shared_ptr<DozidiAppState> DozidiAppState::initWithJSONObject(const Dictionary& json) {
  const std::string* release = textOf(json, "release_name");
  const std::string* os = textOf(json, "os_version");
  const std::string* vendor = textOf(json, "vendor_id");
  const foundation::Number* debugging = numberOf(json, "is_debugging");
  const std::string* bootText = textOf(json, "system_boot_timestamp");
  const foundation::Number* active = numberOf(json, "is_active");
  const foundation::Number* terminated = numberOf(json, "was_terminated");
  const foundation::Number* anr = numberOf(json, "is_anr_ongoing");
  if (!release || !os || !vendor || !debugging || !bootText || !active || !terminated || !anr) return nullptr;
  const std::optional<foundation::Date> boot = dozidi_fromIso8601String(*bootText);
  if (!boot) return nullptr;
  auto state = std::make_shared<DozidiAppState>(*release, *os, *vendor, debugging->boolValue(), *boot);
  state->isActive_ = active->boolValue();
  state->wasTerminated_ = terminated->boolValue();
  state->isANROngoing_ = anr->boolValue();
  return state;
}

Dictionary DozidiAppState::serialize() const {
  return Dictionary{{"release_name", releaseName_},
                    {"os_version", osVersion_},
                    {"vendor_id", vendorId_},
                    {"is_debugging", isDebugging_},
                    {"system_boot_timestamp", dozidi_toIso8601String(systemBootTimestamp_)},
                    {"is_active", isActive_},
                    {"was_terminated", wasTerminated_},
                    {"is_anr_ongoing", isANROngoing_}};
}
