#include "platform/dispatch/DisplayFrames.h"

#include <map>
#include <mutex>
#include <vector>

#include "platform/dispatch/DispatchQueue.h"

namespace dispatch {
namespace {

struct Registry {
  std::mutex lock;
  std::uint64_t next = 1;
  std::map<std::uint64_t, DisplayFrames::Observer> observers;
  std::function<void(bool)> source;
  /// The interest the source was last told of.
  bool toldWanted = false;
};

Registry& registry() {
  static auto* r = new Registry();
  return *r;
}

/// Tells the source on the main queue when the interest changed since it was last told.
void tellSource() {
  DispatchQueue::main()->async([] {
    auto& r = registry();
    std::function<void(bool)> source;
    bool wanted = false;
    {
      std::lock_guard lock(r.lock);
      wanted = !r.observers.empty();
      if (!r.source || wanted == r.toldWanted) return;
      r.toldWanted = wanted;
      source = r.source;
    }
    source(wanted);
  });
}

}  // namespace

std::uint64_t DisplayFrames::addObserver(Observer observer) {
  auto& r = registry();
  std::uint64_t token = 0;
  {
    std::lock_guard lock(r.lock);
    token = r.next++;
    r.observers.emplace(token, std::move(observer));
  }
  tellSource();
  return token;
}

void DisplayFrames::removeObserver(std::uint64_t token) {
  auto& r = registry();
  {
    std::lock_guard lock(r.lock);
    r.observers.erase(token);
  }
  tellSource();
}

void DisplayFrames::setSource(std::function<void(bool wanted)> wanted) {
  auto& r = registry();
  {
    std::lock_guard lock(r.lock);
    r.source = std::move(wanted);
    r.toldWanted = false;
  }
  tellSource();
}

bool DisplayFrames::hasSource() {
  auto& r = registry();
  std::lock_guard lock(r.lock);
  return static_cast<bool>(r.source);
}

void DisplayFrames::deliver(double frameTime, double frameInterval) {
  auto& r = registry();
  std::vector<Observer> observers;
  {
    std::lock_guard lock(r.lock);
    for (const auto& [token, observer] : r.observers) observers.push_back(observer);
  }
  for (const auto& observer : observers) observer(frameTime, frameInterval);
}

}  // namespace dispatch
