#include "DozidiSimpleConstructor.h"

#include <utility>

foundation::Error dozidiErrorWithDomain(std::string domain, std::int64_t code, std::string description) {
  return foundation::Error::withDescription(std::move(domain), code, std::move(description));
}

bool dozidiFillError(foundation::Error* error, std::string domain, std::int64_t code, std::string description) {
  if (error != nullptr) *error = dozidiErrorWithDomain(std::move(domain), code, std::move(description));
  return false;
}
