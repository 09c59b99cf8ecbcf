#include "dozidi-cocoa/Sources/Dozidi/Permissions/DozidiPermissionsObserver.h"

#include <array>

namespace {

using S = DozidiPermissionStatus;
using Mapping = std::array<S, 5>;

// Indexed by the platform's authorization value.
// Push: not determined, denied, authorized, provisional, ephemeral.
constexpr Mapping kPush = {S::Unknown, S::Denied, S::Granted, S::Partial, S::Partial};
// Photo library and location: not determined, restricted, denied, authorized (always), limited
// (when in use).
constexpr Mapping kPhotoLibraryAndLocation = {S::Unknown, S::Denied, S::Denied, S::Granted, S::Partial};

void apply(std::atomic<S>& slot, const Mapping& mapping, std::int64_t status) {
  if (status < 0 || status >= static_cast<std::int64_t>(mapping.size())) return;
  slot.store(mapping[static_cast<std::size_t>(status)]);
}

}  // namespace

std::string nameForDozidiPermissionStatus(DozidiPermissionStatus status) {
  switch (status) {
    case S::Granted: return "granted";
    case S::Partial: return "partial";
    case S::Denied: return "not_granted";
    case S::Unknown: break;
  }
  return "unknown";
}

void DozidiPermissionsObserver::setPushPermissionFromStatus(std::int64_t status) { apply(push_, kPush, status); }
void DozidiPermissionsObserver::setLocationPermissionFromStatus(std::int64_t status) {
  apply(location_, kPhotoLibraryAndLocation, status);
}
void DozidiPermissionsObserver::setPhotoLibraryPermissionFromStatus(std::int64_t status) {
  apply(photoLibrary_, kPhotoLibraryAndLocation, status);
}
