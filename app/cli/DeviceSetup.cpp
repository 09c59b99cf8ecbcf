#include "app/cli/DeviceSetup.h"

#include <unistd.h>

#include <climits>
#include <vector>

#include "app/cli/CLIError.h"
#include "app/core/SharedAux.h"
#include "platform/browser/ExtensionRegistry.h"
#include "platform/foundation/DeviceRoot.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/JSONSerialization.h"
#include "platform/foundation/Value.h"

namespace fendrel::cli {
namespace {

using foundation::FileManager;

constexpr const char* kPluginFileName = "libQuellbox.so";

std::string executableFolder() {
  char path[PATH_MAX];
  const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return {};
  std::string text(path, static_cast<std::size_t>(length));
  return text.substr(0, text.find_last_of('/'));
}

/// The built plug-in: in lib/ beside the program's bin/ folder, else where the build put it.
std::string pluginPath() {
  const std::string beside = executableFolder() + "/../lib/" + kPluginFileName;
  if (FileManager::defaultManager().fileExists(beside)) return beside;
  return FENDREL_QUELLBOX_PLUGIN;
}

foundation::Result<foundation::Dictionary> readInfo(const std::string& bundleSource) {
  auto data = FileManager::defaultManager().readFile(bundleSource + "/Info.json");
  if (!data) return data.error();
  auto json = foundation::JSONSerialization::JSONObjectWithData(data->view());
  if (!json) return json.error();
  if (!json->dictionary()) {
    return makeCLIError(DeviceErrorCode::DamagedBundleInfo,
                        "cannot read " + bundleSource + "/Info.json: not a JSON object");
  }
  return *json->dictionary();
}

bool hasFiles(const std::string& folder, const std::vector<std::string>& names) {
  for (const std::string& name : names) {
    if (!FileManager::defaultManager().fileExists(folder + "/" + name)) return false;
  }
  return true;
}

/// Installs bundle `name` from resources/<name> plus `extraFiles` unless every file is there.
foundation::Result<std::string> ensureBundle(const std::string& name, const std::vector<std::string>& resourceNames,
                                             const std::vector<std::string>& extraFiles) {
  const std::string installed = foundation::DeviceRoot::bundlePath(name);
  std::vector<std::string> expected = {"Info.json"};
  expected.insert(expected.end(), resourceNames.begin(), resourceNames.end());
  for (const std::string& file : extraFiles) expected.push_back(file.substr(file.find_last_of('/') + 1));
  if (hasFiles(installed, expected)) return installed;

  const std::string source = resourcesFolder() + "/" + name;
  auto info = readInfo(source);
  if (!info) return info.error();
  std::vector<std::string> copies;
  for (const std::string& resource : resourceNames) copies.push_back(source + "/" + resource);
  copies.insert(copies.end(), extraFiles.begin(), extraFiles.end());
  return foundation::DeviceRoot::installBundle(name, *info, copies);
}

}  // namespace

std::string resourcesFolder() { return FENDREL_RESOURCES_DIR; }

foundation::Result<void> prepareDevice() {
  auto app = ensureBundle(kAppBundleName,
                          {"blockerList.json", "Main.storyboard", "Shared.storyboard", "Tutorial.storyboard",
                           "tutorial0@2x.png", "tutorial1@2x.png", "tutorial2@2x.png", "tutorial3@2x.png",
                           "tutorial4@2x.png"},
                          {});
  if (!app) return app.error();
  auto extension = ensureBundle(kExtensionBundleName, {"fallback.json"}, {pluginPath()});
  if (!extension) return extension.error();

  auto registry = browser::ExtensionRegistry::forDevice();
  if (!registry) return registry.error();
  const std::string identifier = SharedAux::kExtensionIdentifier;
  if (registry->lookup(identifier)) return {};
  auto installed = registry->install(identifier, *extension + "/" + kPluginFileName, *extension);
  if (!installed) return installed.error();
  return registry->setEnabled(identifier, true);
}

std::size_t removeAbandonedWrites() {
  auto& files = FileManager::defaultManager();
  std::vector<std::string> folders = {files.cachesDirectory().path()};
  if (auto container = files.containerURL(kAppGroupIdentifier)) {
    const std::string root = container->path();
    folders.insert(folders.end(), {root, root + "/Library/Preferences", root + "/Library/Caches"});
  }
  std::size_t removed = 0;
  for (const std::string& folder : folders) removed += files.removeAbandonedTemporaryFiles(folder);
  return removed;
}

}  // namespace fendrel::cli
