#pragma once
#include <cstddef>
#include <string>

#include "platform/foundation/Result.h"

namespace fendrel::cli {

/// The bundle names of the two deliverables in the device root's apps/ folder.
inline constexpr const char* kAppBundleName = "Fendrel.app";
inline constexpr const char* kExtensionBundleName = "Quellbox.appex";

/// The source tree's resources/ folder (bundle contents and the demo files).
std::string resourcesFolder();

/// Makes the current device root ready for the app, doing only what is missing, as installing the
/// app on a phone would: the app bundle (Info.json, "blockerList.json", the storyboards), the extension bundle
/// (Info.json, "fallback.json", the plug-in libQuellbox.so) and the browser's record of the
/// extension, switched on as a user enabling it in the browser's settings would. A user's later
/// choice in the browser is left alone. Errors name what could not be installed.
foundation::Result<void> prepareDevice();

/// Removes what writes of an earlier run left behind when it was killed or stopped by a resource
/// limit in the middle of a write: the temporary files beside the settings, the caches and the
/// rule file of the app-group container and in the app's own caches. Writes of other runs going
/// on now are left alone. Needs the main bundle set. Returns how many files were removed.
std::size_t removeAbandonedWrites();

}  // namespace fendrel::cli
