#include "TovelCommon/ConfigCounterKey.h"

#include "TovelCommon/Analytics.h"
#include "platform/foundation/UserDefaults.h"

namespace tovel {

std::int64_t ConfigCounterKey::count() const {
  if (!userDefaults) return 0;
  return userDefaults->integer(name + "Count");
}

void ConfigCounterKey::increment() const {
  if (!userDefaults) return;
  const std::int64_t current = count();
  if (trackFirstEver && current == 0 && analytics) analytics->log("1st_" + name, {}, Once::No);
  // Saturates instead of overflowing; a count that high is not reached in practice.
  const std::int64_t next = current == INT64_MAX ? current : current + 1;
  userDefaults->setInteger(name + "Count", next);
}

}  // namespace tovel
