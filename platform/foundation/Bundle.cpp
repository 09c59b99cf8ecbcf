#include "platform/foundation/Bundle.h"

#include <cstdlib>
#include <mutex>

#include "platform/foundation/DeviceRoot.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/JSONSerialization.h"

namespace foundation {

namespace {

struct MainState {
  std::mutex mutex;
  std::string name;
  std::shared_ptr<const Bundle> cached;
};

MainState& mainState() {
  static MainState* const state = new MainState();
  return *state;
}

/// Info.json of a bundle folder; empty when missing or not a JSON object, so a damaged bundle
/// behaves as one without info rather than failing its callers.
Dictionary readInfo(const std::string& folder) {
  auto bytes = FileManager::defaultManager().readFile(folder + "/Info.json");
  if (!bytes) return {};
  auto parsed = JSONSerialization::JSONObjectWithData(bytes->view());
  if (!parsed) return {};
  if (const Dictionary* info = parsed->dictionary()) return *info;
  return {};
}

std::shared_ptr<const Bundle> loadMain(const std::string& name) {
  if (name.empty()) return std::make_shared<const Bundle>(std::string(), Dictionary());
  std::string folder = name.find('/') != std::string::npos ? name : DeviceRoot::bundlePath(name);
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  Dictionary info = readInfo(folder);
  return std::make_shared<const Bundle>(std::move(folder), std::move(info));
}

}  // namespace

std::shared_ptr<const Bundle> Bundle::main() {
  auto& state = mainState();
  std::lock_guard lock(state.mutex);
  if (!state.cached) {
    std::string name = state.name;
    if (name.empty()) {
      const char* env = std::getenv("FENDREL_MAIN_BUNDLE");
      if (env) name = env;
    }
    state.cached = loadMain(name);
  }
  return state.cached;
}

void Bundle::setMainBundleName(std::string name) {
  auto& state = mainState();
  std::lock_guard lock(state.mutex);
  state.name = std::move(name);
  state.cached.reset();
}

void Bundle::resetMain() {
  auto& state = mainState();
  std::lock_guard lock(state.mutex);
  state.cached.reset();
}

std::shared_ptr<const Bundle> Bundle::atPath(const std::string& path) {
  bool isDirectory = false;
  if (!FileManager::defaultManager().fileExists(path, &isDirectory) || !isDirectory) return nullptr;
  return std::make_shared<const Bundle>(path, readInfo(path));
}

std::optional<std::string> Bundle::path(std::string_view forResource, std::string_view ofType) const {
  if (path_.empty()) return std::nullopt;
  std::string name(forResource);
  if (!ofType.empty()) name += "." + std::string(ofType);
  // Only files directly in the bundle: a name cannot lead outside it.
  if (!DeviceRoot::isPlainName(name)) return std::nullopt;
  std::string file = path_ + "/" + name;
  if (!FileManager::defaultManager().fileExists(file)) return std::nullopt;
  return file;
}

std::optional<URL> Bundle::url(std::string_view forResource, std::string_view withExtension) const {
  auto file = path(forResource, withExtension);
  if (!file) return std::nullopt;
  return URL::fileURL(*file);
}

std::optional<std::string> Bundle::bundleIdentifier() const { return info_["CFBundleIdentifier"].asString(); }

Value Bundle::object(std::string_view forInfoDictionaryKey) const { return info_[forInfoDictionaryKey]; }

}  // namespace foundation
