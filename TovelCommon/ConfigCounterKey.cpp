#include "TovelCommon/ConfigCounterKey.h"

#include <climits>

#include "TovelCommon/Analytics.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/Value.h"

namespace tovel {

std::int64_t ConfigCounterKey::count() const {
  if (!userDefaults) return 0;
  return userDefaults->integer(name + "Count");
}

foundation::Result<void> ConfigCounterKey::increment() const {
  if (!userDefaults) return {};
  std::int64_t before = 0;
  auto stored = userDefaults->update(name + "Count", [&before](foundation::Value& count) {
    const foundation::Number* n = count.number();
    before = n ? n->int64Value() : 0;
    // Saturates instead of overflowing; a count that high is not reached in practice.
    count = foundation::Value(before == INT64_MAX ? before : before + 1);
  });
  if (!stored) return stored.error();
  // Logged outside the store's lock: the tracker may read settings of its own.
  if (trackFirstEver && before == 0 && analytics) analytics->log("1st_" + name, {}, Once::No);
  return {};
}

}  // namespace tovel
