#include "platform/foundation/Date.h"

#include <chrono>

namespace foundation {

Date Date::now() {
  using namespace std::chrono;
  const double since1970 = duration<double>(system_clock::now().time_since_epoch()).count();
  return fromTimeIntervalSince1970(since1970);
}

}  // namespace foundation
