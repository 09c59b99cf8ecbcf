#include "dozidi-cocoa/Sources/Dozidi/DozidiSDK.h"

#include <mutex>
#include <utility>

#include "dozidi-cocoa/Sources/Dozidi/DozidiClient.h"
#include "dozidi-cocoa/Sources/Dozidi/DozidiHub.h"
#include "dozidi-cocoa/Sources/Dozidi/DozidiScope.h"

namespace {

struct SDKState {
  std::mutex lock;
  std::shared_ptr<DozidiHub> currentHub;
};

// Never destroyed: threads that report during exit must still find the state.
SDKState& state() {
  static auto* s = new SDKState();
  return *s;
}

std::shared_ptr<DozidiHub> existingHub() {
  std::lock_guard lock(state().lock);
  return state().currentHub;
}

}  // namespace

void DozidiSDK::startWithOptions(const foundation::Dictionary& options) {
  auto client = DozidiClient::initWithOptions(options);
  setCurrentHub(DozidiHub::initWithClient(std::move(client), nullptr));
}

void DozidiSDK::close() {
  auto hub = currentHub();
  hub->bindClient(nullptr);
  setCurrentHub(nullptr);
}

std::shared_ptr<DozidiHub> DozidiSDK::currentHub() {
  std::lock_guard lock(state().lock);
  if (!state().currentHub) state().currentHub = DozidiHub::initWithClient(nullptr, nullptr);
  return state().currentHub;
}

void DozidiSDK::setCurrentHub(std::shared_ptr<DozidiHub> hub) {
  std::lock_guard lock(state().lock);
  state().currentHub = std::move(hub);
}

bool DozidiSDK::isEnabled() {
  auto hub = existingHub();
  return hub && hub->getClient() != nullptr;
}

void DozidiSDK::configureScope(const std::function<void(DozidiScope&)>& block) {
  currentHub()->configureScope(block);
}
