#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiInstallation.h"

#include <mutex>
#include <optional>

#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiLog.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/UTF8.h"
#include "platform/foundation/UUID.h"

namespace {

struct InstallationState {
  std::mutex lock;
  std::optional<std::string> cachedId;
};

InstallationState& state() {
  static auto* s = new InstallationState();
  return *s;
}

std::optional<std::string> readStoredId(const std::string& path) {
  auto data = foundation::FileManager::defaultManager().readFile(path);
  if (!data) return std::nullopt;
  // An empty or garbled file would leave the installation without an id for ever (and sessions
  // without their "did"); it is treated as missing instead.
  if (data->empty() || !foundation::isValidUTF8(data->view())) return std::nullopt;
  return data->bytes();
}

}  // namespace

std::string DozidiInstallation::id() {
  std::lock_guard lock(state().lock);
  if (state().cachedId) return *state().cachedId;
  const std::string path = foundation::FileManager::defaultManager().cachesDirectory().path() + "/INSTALLATION";
  auto stored = readStoredId(path);
  if (!stored) {
    stored = foundation::UUID().uuidString();
    // Not flushed to the disk: the first start of every program on a fresh device root would wait
    // for it, and a file lost or left empty by a power cut only means a new id, made here again.
    if (auto written = foundation::FileManager::defaultManager().writeFileAtomically(path, *stored,
                                                                                     foundation::FlushToDisk::No);
        !written) {
      DOZIDI_LOG_ERROR("Failed to store the installation id: " + written.error().localizedDescription());
    }
  }
  state().cachedId = stored;
  return *stored;
}

// Declared for tests in tests/InstallationTesting.h.
void resetCachedInstallationIdForTesting();

void resetCachedInstallationIdForTesting() {
  std::lock_guard lock(state().lock);
  state().cachedId.reset();
}
