#include "platform/foundation/DeviceRoot.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/JSONSerialization.h"
#include "platform/foundation/Value.h"

namespace foundation {

namespace {

struct RootState {
  std::mutex mutex;
  std::string overridePath;
  std::string resolved;  ///< the root in use, once known
  bool created = false;
};

RootState& rootState() {
  static RootState* const state = new RootState();
  return *state;
}

std::string nonEmptyEnv(const char* name) {
  const char* value = std::getenv(name);
  return value && *value ? std::string(value) : std::string();
}

std::string rootFromEnvironment() {
  if (auto root = nonEmptyEnv("FENDREL_DEVICE_ROOT"); !root.empty()) return root;
  if (auto data = nonEmptyEnv("XDG_DATA_HOME"); !data.empty()) return data + "/fendrel";
  std::string home = nonEmptyEnv("HOME");
  if (home.empty()) {
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) home = pw->pw_dir;
  }
  if (home.empty()) home = "/tmp";
  return home + "/.local/share/fendrel";
}

/// Creates `path` and the given subfolders; failures surface later as errors of the file
/// operations that need them.
void createFolders(const std::string& path, std::initializer_list<const char*> subfolders) {
  auto& files = FileManager::defaultManager();
  bool complete = files.fileExists(path);
  for (const char* sub : subfolders) complete = complete && files.fileExists(path + "/" + sub);
  if (complete) return;
  (void)files.createDirectory(path, Intermediates::Yes);
  for (const char* sub : subfolders) (void)files.createDirectory(path + "/" + sub, Intermediates::Yes);
}

bool bundleIsEntitled(const Bundle& bundle, std::string_view group) {
  const Array* groups = bundle.infoDictionary()[kApplicationGroupsKey].array();
  if (!groups) return false;
  for (const Value& entry : *groups) {
    if (const std::string* id = entry.string(); id && *id == group) return true;
  }
  return false;
}

std::string homeIdentity() {
  auto main = Bundle::main();
  if (auto id = main->bundleIdentifier(); id && DeviceRoot::isPlainName(*id)) return *id;
  if (const auto& path = main->bundlePath(); !path.empty()) {
    const std::string name = path.substr(path.find_last_of('/') + 1);
    if (DeviceRoot::isPlainName(name)) return name;
  }
  return program_invocation_short_name;
}

}  // namespace

bool DeviceRoot::isPlainName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos &&
         name.find('\0') == std::string_view::npos;
}

std::string DeviceRoot::path() {
  auto& state = rootState();
  std::lock_guard lock(state.mutex);
  if (state.resolved.empty()) {
    state.resolved = state.overridePath.empty() ? rootFromEnvironment() : state.overridePath;
  }
  if (!state.created) {
    state.created = FileManager::defaultManager().createDirectory(state.resolved, Intermediates::Yes).ok();
  }
  return state.resolved;
}

void DeviceRoot::setPath(std::string path) {
  {
    auto& state = rootState();
    std::lock_guard lock(state.mutex);
    state.overridePath = std::move(path);
    state.resolved.clear();
    state.created = false;
  }
  Bundle::resetMain();
}

std::optional<std::string> DeviceRoot::containerPath(std::string_view groupIdentifier) {
  if (!isPlainName(groupIdentifier)) return std::nullopt;
  if (!bundleIsEntitled(*Bundle::main(), groupIdentifier)) return std::nullopt;
  std::string container = path() + "/containers/" + std::string(groupIdentifier);
  createFolders(container, {"Library/Caches", "Library/Preferences"});
  return container;
}

std::string DeviceRoot::bundlePath(std::string_view bundleName) { return path() + "/apps/" + std::string(bundleName); }

std::string DeviceRoot::homePath() {
  std::string home = path() + "/data/" + homeIdentity();
  createFolders(home, {"Library/Caches", "Library/Preferences", "tmp"});
  return home;
}

std::string DeviceRoot::browserPath() {
  std::string browser = path() + "/browser";
  createFolders(browser, {});
  return browser;
}

std::string DeviceRoot::deviceFactsPath() { return path() + "/device.json"; }

Result<std::string> DeviceRoot::installBundle(std::string_view name, const Dictionary& infoDictionary,
                                              const std::vector<std::string>& resourcesToCopy) {
  if (!isPlainName(name)) {
    return Error::cocoa(CocoaError::FileWriteUnknown,
                        "cannot install bundle '" + std::string(name) + "': not a plain folder name");
  }
  auto& files = FileManager::defaultManager();
  const std::string bundle = bundlePath(name);
  if (auto made = files.createDirectory(bundle, Intermediates::Yes); !made) return made.error();

  auto info = JSONSerialization::dataWithJSONObject(Value(infoDictionary), JSONWritingOptions::PrettyPrinted);
  if (!info) return info.error();
  if (auto written = files.writeFileAtomically(bundle + "/Info.json", std::string_view(*info)); !written) {
    return written.error();
  }
  for (const auto& resource : resourcesToCopy) {
    auto bytes = files.readFile(resource);
    if (!bytes) return bytes.error();
    const std::string target = bundle + "/" + resource.substr(resource.find_last_of('/') + 1);
    if (auto written = files.writeFileAtomically(target, *bytes); !written) return written.error();
  }
  Bundle::resetMain();
  return bundle;
}

}  // namespace foundation
