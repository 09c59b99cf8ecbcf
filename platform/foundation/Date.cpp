#include "platform/foundation/Date.h"

#include "platform/dispatch/Clock.h"

namespace foundation {

Date Date::now() { return fromTimeIntervalSince1970(dispatch::Clock::current().wallTime()); }

}  // namespace foundation
