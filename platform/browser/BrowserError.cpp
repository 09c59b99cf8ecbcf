#include "platform/browser/BrowserError.h"

namespace browser {

foundation::Error makeSFError(SFErrorCode code, std::string reason) {
  return foundation::Error::withDescription(kSFErrorDomain, static_cast<std::int64_t>(code), std::move(reason));
}

foundation::Error makeBrowserError(BrowserErrorCode code, std::string reason) {
  return foundation::Error::withDescription(kBrowserErrorDomain, static_cast<std::int64_t>(code),
                                            std::move(reason));
}

}  // namespace browser
