#pragma once
#include <string>

#include "platform/browser/ExtensionRegistry.h"
#include "platform/foundation/Result.h"

namespace browser::detail {

/// The rule file an extension answered with, as the extension host reported it.
struct HostAnswer {
  std::string attachmentPath;
  std::uint64_t attachmentSize = 0;
};

/// The extension-host program: $FENDREL_EXTENSION_HOST, else "fendrel-extension-host" next to the
/// running executable, else the one in the build's program folder.
std::string extensionHostPath();

/// Runs the extension host for `extension` in a child process, with `deviceRoot` as its device
/// root and the extension's bundle as its main bundle, and returns the first attachment of its
/// answer. Errors: SFErrorDomain 3 when the host cannot be started, fails, crashes, prints no
/// answer or runs longer than `timeLimitSeconds` (it is then killed), with the extension's own
/// cancellation error underlying when it cancelled; SFErrorDomain 2 when it answered with no
/// attachment.
foundation::Result<HostAnswer> runExtensionHost(const InstalledExtension& extension, const std::string& deviceRoot,
                                                double timeLimitSeconds);

}  // namespace browser::detail
