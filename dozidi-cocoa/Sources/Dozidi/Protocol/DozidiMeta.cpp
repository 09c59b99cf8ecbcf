#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiMeta.h"

#include <mutex>

namespace {

struct MetaState {
  std::mutex lock;
  std::string sdkName = "dozidi.cocoa";
  std::string versionString = "7.31.5";
};

MetaState& meta() {
  static auto* s = new MetaState();
  return *s;
}

}  // namespace

std::string DozidiMeta::sdkName() {
  std::lock_guard lock(meta().lock);
  return meta().sdkName;
}

void DozidiMeta::setSdkName(std::string name) {
  std::lock_guard lock(meta().lock);
  meta().sdkName = std::move(name);
}

std::string DozidiMeta::versionString() {
  std::lock_guard lock(meta().lock);
  return meta().versionString;
}

void DozidiMeta::setVersionString(std::string version) {
  std::lock_guard lock(meta().lock);
  meta().versionString = std::move(version);
}
