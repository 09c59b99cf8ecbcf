#pragma once
#include <cstdint>
#include <string>

#include "platform/foundation/Error.h"

namespace browser {

/// Domain of the errors the browser's content-blocker services report, as the platform names it.
inline constexpr const char* kSFErrorDomain = "SFErrorDomain";
/// Domain of the errors of WebKit's content-rule-list compiler, with which the browser refuses a
/// rule file.
inline constexpr const char* kWebKitRuleListErrorDomain = "WebKitUserContentFilterError";
/// Domain of the browser stand-in's own errors about its registry and control files.
inline constexpr const char* kBrowserErrorDomain = "com.morvit.Fendrel.browser";

/// Codes of kSFErrorDomain (the platform's values).
enum class SFErrorCode : std::int64_t {
  NoExtensionFound = 1,    ///< no installed extension has the identifier
  NoAttachmentFound = 2,   ///< the extension answered without a readable rule file
  LoadingInterrupted = 3,  ///< the extension failed, crashed, hung, or the load was made to fail
};

/// Codes of kBrowserErrorDomain.
enum class BrowserErrorCode : std::int64_t {
  // Registry
  InvalidIdentifier = 1,  ///< empty, or not usable as a file name
  InvalidPath = 2,        ///< a plug-in or bundle path that is not absolute
  DamagedStateFile = 3,   ///< a state file under browser/ that is not the expected JSON
  // Device
  NoDeviceRoot = 10,      ///< neither FENDREL_DEVICE_ROOT nor a home folder is set
};

/// An SFErrorDomain error; `reason` becomes the localised description.
foundation::Error makeSFError(SFErrorCode code, std::string reason);
/// A kBrowserErrorDomain error; `reason` becomes the localised description.
foundation::Error makeBrowserError(BrowserErrorCode code, std::string reason);

}  // namespace browser
