#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

/// A permission as events report it.
enum class DozidiPermissionStatus : std::int64_t { Unknown = 0, Granted = 1, Partial = 2, Denied = 3 };

/// "unknown", "granted", "partial" or "not_granted".
std::string nameForDozidiPermissionStatus(DozidiPermissionStatus status);

/// Keeps the app's authorization for push notifications, location and the photo library, so that
/// every event can report it. This system has no authorization prompts to ask: each status stays
/// unknown unless the app sets it from the platform's authorization value through the setters.
/// The statuses are atomic: any thread may set and read them.
class DozidiPermissionsObserver {
 public:
  DozidiPermissionsObserver() = default;

  DozidiPermissionStatus pushPermissionStatus() const { return push_.load(); }
  DozidiPermissionStatus locationPermissionStatus() const { return location_.load(); }
  DozidiPermissionStatus photoLibraryPermissionStatus() const { return photoLibrary_.load(); }

  /// Each takes the platform's authorization value (0 to 4); any other value keeps the status.
  void setPushPermissionFromStatus(std::int64_t status);
  void setLocationPermissionFromStatus(std::int64_t status);
  void setPhotoLibraryPermissionFromStatus(std::int64_t status);

 private:
  std::atomic<DozidiPermissionStatus> push_{DozidiPermissionStatus::Unknown};
  std::atomic<DozidiPermissionStatus> location_{DozidiPermissionStatus::Unknown};
  std::atomic<DozidiPermissionStatus> photoLibrary_{DozidiPermissionStatus::Unknown};
};
