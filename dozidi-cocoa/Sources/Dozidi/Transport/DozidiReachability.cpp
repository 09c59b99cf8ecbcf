#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiReachability.h"

#include <cstdio>
#include <map>
#include <utility>
#include <vector>

#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiNetlinkReachabilityTarget.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/URL.h"

namespace {

// What all instances share: who listens, and the flags of the last transition.
struct Observers {
  std::mutex lock;
  std::map<std::string, DozidiReachability::Callback> callbacks;
  std::uint32_t lastFlags = kDozidiReachabilityFlagsUnknown;
};

Observers& observers() {
  static auto* shared = new Observers();
  return *shared;
}

// Runs on the connectivity queue for each report of any target.
void handleFlags(std::uint32_t flags) {
  auto& shared = observers();
  std::vector<DozidiReachability::Callback> toCall;
  {
    std::lock_guard lock(shared.lock);
    if (((flags ^ shared.lastFlags) & kDozidiReachabilityFlagsReachable) == 0) return;
    const auto previous = shared.lastFlags;
    shared.lastFlags = flags;
    // The first report only tells where we start from.
    if (previous == kDozidiReachabilityFlagsUnknown) return;
    toCall.reserve(shared.callbacks.size());
    for (const auto& [key, callback] : shared.callbacks) toCall.push_back(callback);
  }
  const bool connected = (flags & kDozidiReachabilityFlagsReachable) != 0;
  const std::string description = connected ? "wifi" : "none";
  for (const auto& callback : toCall) {
    if (callback) callback(connected, description);
  }
}

}  // namespace

std::shared_ptr<dispatch::DispatchQueue> DozidiReachability::connectivityQueue() {
  static const auto queue = dispatch::DispatchQueue::create("io.dozidi.cocoa.connectivity");
  return queue;
}

std::shared_ptr<DozidiReachability> DozidiReachability::create() {
  return create([](const std::string& host) { return DozidiNetlinkReachabilityTarget::create(host); });
}

std::shared_ptr<DozidiReachability> DozidiReachability::create(TargetFactory makeTarget) {
  return std::shared_ptr<DozidiReachability>(new DozidiReachability(std::move(makeTarget)));
}

DozidiReachability::DozidiReachability(TargetFactory makeTarget) : makeTarget_(std::move(makeTarget)) {}

DozidiReachability::~DozidiReachability() { stopMonitoring(); }

std::string DozidiReachability::keyForInstance() const {
  char key[64];
  std::snprintf(key, sizeof key, "<DozidiReachability: %p>", static_cast<const void*>(this));
  return key;
}

void DozidiReachability::monitorURL(const foundation::URL& url, Callback callback) {
  const auto queue = connectivityQueue();
  {
    auto& shared = observers();
    std::lock_guard lock(shared.lock);
    shared.callbacks[keyForInstance()] = std::move(callback);
  }
  std::unique_ptr<DozidiReachabilityTarget> previous;
  std::unique_ptr<DozidiReachabilityTarget> target;
  const auto host = url.host();
  if (host && makeTarget_) target = makeTarget_(*host);
  if (target) target->schedule(handleFlags, queue);
  {
    std::lock_guard lock(targetLock_);
    previous = std::exchange(target_, std::move(target));
  }
  // The earlier watch of this instance is stopped and released, never left reporting.
  if (previous) previous->unschedule();
}

void DozidiReachability::stopMonitoring() {
  {
    auto& shared = observers();
    std::lock_guard lock(shared.lock);
    shared.callbacks.erase(keyForInstance());
  }
  std::unique_ptr<DozidiReachabilityTarget> target;
  {
    std::lock_guard lock(targetLock_);
    target = std::move(target_);
  }
  if (target) target->unschedule();
  auto& shared = observers();
  std::lock_guard lock(shared.lock);
  shared.lastFlags = kDozidiReachabilityFlagsUnknown;
}
