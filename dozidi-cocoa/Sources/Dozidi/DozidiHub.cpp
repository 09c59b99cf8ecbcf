#include "dozidi-cocoa/Sources/Dozidi/DozidiHub.h"

#include <utility>

#include "dozidi-cocoa/Sources/Dozidi/DozidiClient.h"
#include "dozidi-cocoa/Sources/Dozidi/DozidiScope.h"

DozidiHub::DozidiHub(std::shared_ptr<DozidiClient> client, std::shared_ptr<DozidiScope> scope)
    : client_(std::move(client)), scope_(std::move(scope)) {}

std::shared_ptr<DozidiHub> DozidiHub::initWithClient(std::shared_ptr<DozidiClient> client,
                                                     std::shared_ptr<DozidiScope> scope) {
  return std::shared_ptr<DozidiHub>(new DozidiHub(std::move(client), std::move(scope)));
}

std::shared_ptr<DozidiClient> DozidiHub::getClient() const {
  std::lock_guard lock(lock_);
  return client_;
}

void DozidiHub::bindClient(std::shared_ptr<DozidiClient> client) {
  std::lock_guard lock(lock_);
  client_ = std::move(client);
}

std::shared_ptr<DozidiScope> DozidiHub::scope() {
  std::lock_guard lock(lock_);
  if (!scope_) scope_ = DozidiScope::create();
  return scope_;
}

void DozidiHub::configureScope(const std::function<void(DozidiScope&)>& block) {
  if (!block || !getClient()) return;
  // The block runs outside the hub's lock: it may call back into the hub.
  auto theScope = scope();
  block(*theScope);
}
