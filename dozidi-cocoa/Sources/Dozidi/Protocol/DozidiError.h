#pragma once
#include <cstdint>
#include <string>

#include "platform/foundation/Error.h"

/// The domain of every error the reporter reports through an error out-parameter.
inline constexpr const char* kDozidiErrorDomain = "DozidiErrorDomain";

/// Codes of the reporter's errors.
enum class DozidiError : std::int64_t {
  InvalidDsnError = 100,
  CompressionError = 103,
  JsonConversionError = 104,
};

/// An error in "DozidiErrorDomain" with `code` and `description` as its localised description.
foundation::Error NSErrorFromDozidiError(DozidiError code, const std::string& description);
/// The same, with `underlying` under the underlying-error key.
foundation::Error NSErrorFromDozidiErrorWithUnderlyingError(DozidiError code, const std::string& description,
                                                            const foundation::Error& underlying);
