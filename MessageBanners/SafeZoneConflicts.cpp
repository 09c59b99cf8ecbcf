#include "MessageBanners/SafeZoneConflicts.h"

namespace MessageBanners {

SafeZoneConflicts::InsertResult SafeZoneConflicts::insert(SafeZoneConflicts member) {
  if (contains(member)) return {false, intersection(member)};
  formUnion(member);
  return {true, member};
}

std::optional<SafeZoneConflicts> SafeZoneConflicts::remove(SafeZoneConflicts member) {
  SafeZoneConflicts present = intersection(member);
  subtract(member);
  if (present.isEmpty()) return std::nullopt;
  return present;
}

std::optional<SafeZoneConflicts> SafeZoneConflicts::update(SafeZoneConflicts member) {
  SafeZoneConflicts present = intersection(member);
  formUnion(member);
  if (present.isEmpty()) return std::nullopt;
  return present;
}

}  // namespace MessageBanners
