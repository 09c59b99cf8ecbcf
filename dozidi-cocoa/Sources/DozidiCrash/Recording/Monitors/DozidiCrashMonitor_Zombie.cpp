#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Monitors/DozidiCrashMonitor_Zombie.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashLogger.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashObjC.h"
#include "platform/runtime/ObjectRuntime.h"

namespace {

constexpr std::uint32_t kCacheSize = 0x8000;
constexpr std::uint32_t kCacheMask = kCacheSize - 1;

struct Zombie {
  std::atomic<std::uintptr_t> object;
  std::atomic<const char*> className;
};

std::atomic<Zombie*> g_zombieCache{nullptr};
std::atomic<bool> g_isEnabled{false};
runtime::Class g_exceptionClass = nullptr;
runtime::DeallocIMP g_originalObjectDealloc = nullptr;
runtime::DeallocIMP g_originalProxyDealloc = nullptr;

struct {
  std::atomic<std::uintptr_t> address;
  char name[100];
  char reason[900];
} g_lastDeallocedException;

std::uint32_t hashIndex(std::uintptr_t object) { return static_cast<std::uint32_t>(object >> 7) & kCacheMask; }

// Copies the string object held in the exception's instance variable `name` into `buffer`; a
// step that fails leaves the buffer as it was.
void copyStringIvar(const void* exception, const char* name, char* buffer, int bufferLength) {
  DozidiCrashObjCIvar ivar;
  std::uint64_t pointer = 0;
  const void* cls = dozidicrashobjc_isaPointer(exception);
  if (!dozidicrashobjc_ivarNamed(cls, name, &ivar) || !dozidicrashobjc_ivarValueOf(exception, &ivar, &pointer)) {
    return;
  }
  const void* string = reinterpret_cast<const void*>(pointer);
  if (dozidicrashobjc_isValidObject(string)) dozidicrashobjc_copyStringContents(string, buffer, bufferLength);
}

void handleDealloc(runtime::id self) {
  const auto address = reinterpret_cast<std::uintptr_t>(self);
  if (Zombie* cache = g_zombieCache.load(std::memory_order_acquire)) {
    Zombie& slot = cache[hashIndex(address)];
    slot.className.store(runtime::object_getClassName(self), std::memory_order_relaxed);
    slot.object.store(address, std::memory_order_release);
  }
  for (runtime::Class cls = runtime::object_getClass(self); cls != nullptr; cls = cls->superclass) {
    if (cls == g_exceptionClass) {
      g_lastDeallocedException.address.store(address);
      copyStringIvar(self, "name", g_lastDeallocedException.name, sizeof(g_lastDeallocedException.name));
      copyStringIvar(self, "reason", g_lastDeallocedException.reason, sizeof(g_lastDeallocedException.reason));
      break;
    }
  }
}

void handleObjectDealloc(runtime::id self) {
  handleDealloc(self);
  g_originalObjectDealloc(self);
}

void handleProxyDealloc(runtime::id self) {
  handleDealloc(self);
  g_originalProxyDealloc(self);
}

bool install() {
  auto* cache = static_cast<Zombie*>(std::calloc(kCacheSize, sizeof(Zombie)));
  if (cache == nullptr) {
    DOZIDICRASHLOG_ERROR("Error: Could not allocate %u bytes of memory. DozidiCrashZombie NOT installed!",
                         static_cast<unsigned>(kCacheSize * sizeof(Zombie)));
    return false;
  }
  g_exceptionClass = runtime::objc_getClass("NSException");
  g_lastDeallocedException.address.store(0);
  g_lastDeallocedException.name[0] = '\0';
  g_lastDeallocedException.reason[0] = '\0';
  g_zombieCache.store(cache, std::memory_order_release);
  g_originalObjectDealloc = runtime::class_replaceDealloc(runtime::NSObjectClass(), handleObjectDealloc);
  g_originalProxyDealloc = runtime::class_replaceDealloc(runtime::NSProxyClass(), handleProxyDealloc);
  return true;
}

// Once installed the hooks stay for the life of the process: objects freed later still pass
// through them, and a request to switch off is ignored.
void setEnabled(bool isEnabled) {
  if (!isEnabled || g_isEnabled.load()) return;
  g_isEnabled.store(install());
}

bool isEnabled() { return g_isEnabled.load(); }

void addContextualInfoToEvent(DozidiCrash_MonitorContext* eventContext) {
  if (!g_isEnabled.load()) return;
  eventContext->ZombieException.address = g_lastDeallocedException.address.load();
  eventContext->ZombieException.name = g_lastDeallocedException.name;
  eventContext->ZombieException.reason = g_lastDeallocedException.reason;
}

constexpr DozidiCrashMonitorAPI kAPI = {setEnabled, isEnabled, addContextualInfoToEvent};

}  // namespace

const DozidiCrashMonitorAPI* dozidicrashcm_zombie_getAPI() { return &kAPI; }

const char* dozidicrashzombie_className(const void* object) {
  const Zombie* cache = g_zombieCache.load(std::memory_order_acquire);
  const auto address = reinterpret_cast<std::uintptr_t>(object);
  if (cache == nullptr || address == 0) return nullptr;
  const Zombie& slot = cache[hashIndex(address)];
  if (slot.object.load(std::memory_order_acquire) != address) return nullptr;
  return slot.className.load(std::memory_order_relaxed);
}
