#pragma once
#include <optional>
#include <string>

#include "platform/foundation/Result.h"

namespace browser {

/// An installed content-blocker extension: its plug-in (a shared object exporting the extension
/// entry point) and its bundle folder (Info.json and resources).
struct InstalledExtension {
  std::string identifier;
  std::string pluginPath;
  std::string bundlePath;
};

/// The browser's record of installed content-blocker extensions and of the user's choice to
/// enable each, kept in the browser folder of the device root:
///   "extensions.json"  {"<id>": {"plugin": "<path>", "bundle": "<path>"}, ...}
///   "enabled.json"     {"<id>": true|false, ...}
/// An installed extension the user never switched is disabled, as on the phone. Every change is a
/// locked read-modify-write replaced atomically, so concurrent tools and apps lose no entry.
class ExtensionRegistry {
 public:
  /// The registry kept in `browserFolder` (created on the first change).
  explicit ExtensionRegistry(std::string browserFolder);
  /// The registry of the current device root (<device root>/browser).
  static foundation::Result<ExtensionRegistry> forDevice();

  const std::string& browserFolder() const { return folder_; }

  /// Installs or replaces an extension. The identifier must be usable as a file name (no "/", not
  /// "." or "..", no control characters); both paths must be absolute.
  foundation::Result<void> install(const std::string& identifier, const std::string& pluginPath,
                                   const std::string& bundlePath);
  /// Records the user's choice; an identifier that is not installed gives SFErrorDomain code 1.
  foundation::Result<void> setEnabled(const std::string& identifier, bool enabled);
  /// The user's choice; false when never set; SFErrorDomain code 1 when not installed.
  foundation::Result<bool> isEnabled(const std::string& identifier) const;
  /// The installed extension; SFErrorDomain code 1 ("no extension found") when there is none.
  foundation::Result<InstalledExtension> lookup(const std::string& identifier) const;

  /// True when `identifier` can name an extension (and the files named after it).
  static bool isValidIdentifier(const std::string& identifier);

 private:
  std::string folder_;
};

}  // namespace browser
