#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiSdkInfo.h"

using foundation::Dictionary;

DozidiSdkInfo::DozidiSdkInfo(std::optional<std::string> name, std::optional<std::string> version)
    : name_(name.value_or("")), version_(version.value_or("")) {}

DozidiSdkInfo DozidiSdkInfo::initWithDict(const Dictionary& dict, const DozidiSdkInfo* defaults) {
  const Dictionary* sdk = dict["sdk"].dictionary();
  if (!sdk) return DozidiSdkInfo(std::nullopt, std::nullopt);
  auto name = (*sdk)["name"].asString();
  if (!name && defaults) name = defaults->name();
  auto version = (*sdk)["version"].asString();
  if (!version && defaults) version = defaults->version();
  return DozidiSdkInfo(std::move(name), std::move(version));
}

Dictionary DozidiSdkInfo::serialize() const {
  return Dictionary{{"sdk", Dictionary{{"name", name_}, {"version", version_}}}};
}
