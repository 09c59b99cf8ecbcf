#pragma once
#include <cstdint>
#include <string>

#include "platform/foundation/Error.h"

/// Error values of the recorder's object-level code: a domain, a code and a description under
/// the localised-description key.
foundation::Error dozidiErrorWithDomain(std::string domain, std::int64_t code, std::string description);

/// Stores such an error through `error` when one is given; always false, so that a failing
/// function can `return dozidiFillError(error, …);`.
bool dozidiFillError(foundation::Error* error, std::string domain, std::int64_t code, std::string description);
