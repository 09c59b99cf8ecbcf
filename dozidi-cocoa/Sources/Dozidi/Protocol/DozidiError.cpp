#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiError.h"

using foundation::Dictionary;
using foundation::Error;

Error NSErrorFromDozidiError(DozidiError code, const std::string& description) {
  return Error(kDozidiErrorDomain, static_cast<std::int64_t>(code),
               Dictionary{{foundation::kLocalizedDescriptionKey, description}});
}

Error NSErrorFromDozidiErrorWithUnderlyingError(DozidiError code, const std::string& description,
                                                const Error& underlying) {
  return Error(kDozidiErrorDomain, static_cast<std::int64_t>(code),
               Dictionary{{foundation::kLocalizedDescriptionKey, description},
                          {foundation::kUnderlyingErrorKey, underlying}});
}
