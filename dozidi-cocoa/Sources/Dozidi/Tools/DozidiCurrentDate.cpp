#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiCurrentDate.h"

#include <time.h>

#include <mutex>

#include "platform/dispatch/Clock.h"

namespace {

struct ClockState {
  std::mutex lock;
  std::shared_ptr<DozidiCurrentDateProvider> provider;
};

ClockState& state() {
  static auto* s = new ClockState();
  return *s;
}

std::shared_ptr<DozidiCurrentDateProvider> provider() {
  std::lock_guard lock(state().lock);
  if (!state().provider) state().provider = DozidiDefaultCurrentDateProvider::sharedInstance();
  return state().provider;
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

foundation::Date DozidiCurrentDate::date() { return provider()->date(); }

double DozidiCurrentDate::dispatchTimeNow() { return provider()->dispatchTimeNow(); }

void DozidiCurrentDate::setCurrentDateProvider(std::shared_ptr<DozidiCurrentDateProvider> newProvider) {
  std::lock_guard lock(state().lock);
  state().provider = std::move(newProvider);
}

std::shared_ptr<DozidiCurrentDateProvider> DozidiCurrentDate::getCurrentDateProvider() {
  std::lock_guard lock(state().lock);
  return state().provider;
}
