#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiCurrentDate.h"

#include <time.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <vector>

#include "platform/dispatch/Clock.h"

namespace {

struct ClockState {
  std::mutex lock;
  std::shared_ptr<DozidiCurrentDateProvider> provider;
  // The installed provider for readers, who take no lock (a transaction reads the clock twice
  // per span). Every provider ever installed is kept alive, so that a reader that loaded the
  // pointer just before a replacement still calls a living object.
  std::atomic<DozidiCurrentDateProvider*> current{nullptr};
  std::vector<std::shared_ptr<DozidiCurrentDateProvider>> installed;
};

ClockState& state() {
  static auto* s = new ClockState();
  return *s;
}

/// Under the state's lock.
void install(ClockState& s, std::shared_ptr<DozidiCurrentDateProvider> provider) {
  if (provider && std::find(s.installed.begin(), s.installed.end(), provider) == s.installed.end()) {
    s.installed.push_back(provider);
  }
  s.current.store(provider.get(), std::memory_order_release);
  s.provider = std::move(provider);
}

DozidiCurrentDateProvider& provider() {
  ClockState& s = state();
  if (auto* current = s.current.load(std::memory_order_acquire)) return *current;
  std::lock_guard lock(s.lock);
  if (!s.provider) install(s, DozidiDefaultCurrentDateProvider::sharedInstance());
  return *s.provider;
}

}  // namespace

std::shared_ptr<DozidiDefaultCurrentDateProvider> DozidiDefaultCurrentDateProvider::sharedInstance() {
  static const auto* instance = new std::shared_ptr<DozidiDefaultCurrentDateProvider>(
      std::make_shared<DozidiDefaultCurrentDateProvider>());
  return *instance;
}

foundation::Date DozidiDefaultCurrentDateProvider::date() { return foundation::Date::now(); }

double DozidiDefaultCurrentDateProvider::dispatchTimeNow() { return dispatch::Clock::current().uptime(); }

std::int64_t DozidiDefaultCurrentDateProvider::timezoneOffset() {
  const time_t now = ::time(nullptr);
  struct tm local {};
  if (!::localtime_r(&now, &local)) return 0;
  return local.tm_gmtoff;
}

foundation::Date DozidiCurrentDate::date() { return provider().date(); }

double DozidiCurrentDate::dispatchTimeNow() { return provider().dispatchTimeNow(); }

void DozidiCurrentDate::setCurrentDateProvider(std::shared_ptr<DozidiCurrentDateProvider> newProvider) {
  std::lock_guard lock(state().lock);
  install(state(), std::move(newProvider));
}

std::shared_ptr<DozidiCurrentDateProvider> DozidiCurrentDate::getCurrentDateProvider() {
  std::lock_guard lock(state().lock);
  return state().provider;
}
