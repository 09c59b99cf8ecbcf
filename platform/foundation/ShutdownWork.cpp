#include "platform/foundation/ShutdownWork.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#include "platform/dispatch/DispatchSemaphore.h"
#include "platform/dispatch/Thread.h"

namespace foundation {
namespace {

struct Entry {
  std::string name;
  std::function<void()> work;
};

struct Registry {
  std::mutex mutex;
  std::uint64_t nextId = 1;
  std::map<std::uint64_t, Entry> entries;  ///< by id, so the newest is last
};

Registry& registry() {
  // Never destroyed: a registration may end while the process exits.
  static Registry* const r = new Registry();
  return *r;
}

/// Takes the newest registered work out of the registry; none when there is none left.
std::optional<Entry> takeNewest() {
  auto& r = registry();
  std::lock_guard lock(r.mutex);
  if (r.entries.empty()) return std::nullopt;
  auto last = std::prev(r.entries.end());
  Entry entry = std::move(last->second);
  r.entries.erase(last);
  return entry;
}

}  // namespace

ShutdownWork::Registration& ShutdownWork::Registration::operator=(Registration&& other) noexcept {
  if (this != &other) {
    end();
    id_ = std::exchange(other.id_, 0);
  }
  return *this;
}

void ShutdownWork::Registration::end() {
  if (id_ == 0) return;
  auto& r = registry();
  std::lock_guard lock(r.mutex);
  r.entries.erase(std::exchange(id_, 0));
}

ShutdownWork::Registration ShutdownWork::add(std::string name, std::function<void()> work) {
  auto& r = registry();
  std::lock_guard lock(r.mutex);
  const std::uint64_t id = r.nextId++;
  r.entries.emplace(id, Entry{std::move(name), std::move(work)});
  return Registration(id);
}

void ShutdownWork::exitProcess(int status, double boundSeconds) {
  // The work runs on a thread of its own, so that work that hangs cannot hold the exit past the
  // bound; the thread is left behind when the process ends.
  auto done = dispatch::DispatchSemaphore::create(0);
  dispatch::startThread("shutdown-work", [done] {
    while (auto entry = takeNewest()) {
      if (entry->work) entry->work();
    }
    done->signal();
  }).detach();
  (void)done->wait(boundSeconds);
  std::fflush(nullptr);
  std::_Exit(status);
}

}  // namespace foundation
