#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Monitors/DozidiCrashMonitor_User.h"

#include <atomic>

namespace {

std::atomic<bool> g_isEnabled{false};

void setEnabled(bool isEnabled) { g_isEnabled.store(isEnabled); }
bool isEnabled() { return g_isEnabled.load(); }

constexpr DozidiCrashMonitorAPI kAPI = {setEnabled, isEnabled, nullptr};

}  // namespace

const DozidiCrashMonitorAPI* dozidicrashcm_user_getAPI() { return &kAPI; }
