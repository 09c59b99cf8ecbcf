#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiMechanism.h"

#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiFoundationHelpers.h"

using foundation::Dictionary;

std::shared_ptr<DozidiMechanismMeta> DozidiMechanismMeta::create() {
  return std::shared_ptr<DozidiMechanismMeta>(new DozidiMechanismMeta());
}

Dictionary DozidiMechanismMeta::serialize() const {
  Dictionary result;
  if (signal) result.set("signal", dozidi_sanitize(*signal));
  if (machException) result.set("mach_exception", dozidi_sanitize(*machException));
  if (error) result.set("ns_error", error->serialize());
  return result;
}

std::shared_ptr<DozidiMechanism> DozidiMechanism::initWithType(std::string type) {
  return std::shared_ptr<DozidiMechanism>(new DozidiMechanism(std::move(type)));
}

Dictionary DozidiMechanism::serialize() const {
  Dictionary result{{"type", type}};
  if (handled) result.set("handled", *handled);
  if (desc) result.set("description", *desc);
  if (data) result.set("data", dozidi_sanitize(*data));
  if (helpLink) result.set("help_link", *helpLink);
  if (meta) result.set("meta", meta->serialize());
  return result;
}
