#include "platform/browser/ExtensionRegistry.h"

#include "platform/browser/BrowserError.h"
#include "platform/browser/detail/BrowserFiles.h"
#include "platform/foundation/DeviceRoot.h"

namespace browser {

namespace {

constexpr const char* kExtensionsFile = "extensions.json";
constexpr const char* kEnabledFile = "enabled.json";

foundation::Error notInstalled(const std::string& identifier) {
  return makeSFError(SFErrorCode::NoExtensionFound, "no extension found: " + identifier);
}

}  // namespace

ExtensionRegistry::ExtensionRegistry(std::string browserFolder) : folder_(std::move(browserFolder)) {}

foundation::Result<ExtensionRegistry> ExtensionRegistry::forDevice() {
  return ExtensionRegistry(foundation::DeviceRoot::browserPath());
}

bool ExtensionRegistry::isValidIdentifier(const std::string& identifier) {
  if (!foundation::DeviceRoot::isPlainName(identifier)) return false;
  for (unsigned char c : identifier) {
    if (c < 0x20 || c == 0x7f) return false;
  }
  return true;
}

foundation::Result<void> ExtensionRegistry::install(const std::string& identifier, const std::string& pluginPath,
                                                    const std::string& bundlePath) {
  if (!isValidIdentifier(identifier)) {
    return makeBrowserError(BrowserErrorCode::InvalidIdentifier,
                            "cannot install extension '" + identifier + "': not a valid identifier");
  }
  if (pluginPath.empty() || pluginPath[0] != '/' || bundlePath.empty() || bundlePath[0] != '/') {
    return makeBrowserError(BrowserErrorCode::InvalidPath,
                            "cannot install extension '" + identifier + "': plug-in and bundle paths must be absolute");
  }
  detail::FolderLock lock(folder_);
  const std::string path = folder_ + "/" + kExtensionsFile;
  auto extensions = detail::readStateObject(path);
  if (!extensions) return extensions.error();
  extensions->set(identifier, foundation::Dictionary{{"plugin", pluginPath}, {"bundle", bundlePath}});
  return detail::writeStateObject(path, *extensions);
}

foundation::Result<void> ExtensionRegistry::setEnabled(const std::string& identifier, bool enabled) {
  detail::FolderLock lock(folder_);
  auto installed = lookup(identifier);
  if (!installed) return installed.error();
  const std::string path = folder_ + "/" + kEnabledFile;
  auto flags = detail::readStateObject(path);
  if (!flags) return flags.error();
  flags->set(identifier, enabled);
  return detail::writeStateObject(path, *flags);
}

foundation::Result<bool> ExtensionRegistry::isEnabled(const std::string& identifier) const {
  auto installed = lookup(identifier);
  if (!installed) return installed.error();
  auto flags = detail::readStateObject(folder_ + "/" + kEnabledFile);
  if (!flags) return flags.error();
  const foundation::Value& flag = (*flags)[identifier];
  if (flag.isAbsent()) return false;
  if (auto value = flag.asBool()) return *value;
  return makeBrowserError(BrowserErrorCode::DamagedStateFile,
                          "cannot read enabled.json: the entry of '" + identifier + "' is not true or false");
}

foundation::Result<InstalledExtension> ExtensionRegistry::lookup(const std::string& identifier) const {
  auto extensions = detail::readStateObject(folder_ + "/" + kExtensionsFile);
  if (!extensions) return extensions.error();
  const foundation::Value& entry = (*extensions)[identifier];
  if (entry.isAbsent() || !isValidIdentifier(identifier)) return notInstalled(identifier);
  auto plugin = entry["plugin"].asString();
  auto bundle = entry["bundle"].asString();
  if (!plugin || !bundle) {
    return makeBrowserError(BrowserErrorCode::DamagedStateFile,
                            "cannot read extensions.json: the entry of '" + identifier + "' lacks its paths");
  }
  return InstalledExtension{identifier, *plugin, *bundle};
}

}  // namespace browser
