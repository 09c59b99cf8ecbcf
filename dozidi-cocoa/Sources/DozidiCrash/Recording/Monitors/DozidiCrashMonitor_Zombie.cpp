#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Monitors/DozidiCrashMonitor_Zombie.h"

namespace {
bool isEnabled() { return false; }
constexpr DozidiCrashMonitorAPI kAPI = {nullptr, isEnabled, nullptr};
}  // namespace

const DozidiCrashMonitorAPI* dozidicrashcm_zombie_getAPI() { return &kAPI; }
const char* dozidicrashzombie_className(const void*) { return nullptr; }
