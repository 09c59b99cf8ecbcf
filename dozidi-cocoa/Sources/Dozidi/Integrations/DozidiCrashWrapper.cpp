#include "dozidi-cocoa/Sources/Dozidi/Integrations/DozidiCrashWrapper.h"

#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiBaseIntegration.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/DozidiCrash.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Monitors/DozidiCrashMonitor_AppState.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashAsyncCaller.h"

#include <mutex>

#include <sys/statvfs.h>
#include <sys/sysinfo.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

std::shared_ptr<DozidiCrashWrapper> DozidiCrashWrapper::sharedInstance() {
  static auto* instance = new std::shared_ptr<DozidiCrashWrapper>(std::make_shared<DozidiCrashWrapper>());
  return *instance;
}

bool DozidiCrashWrapper::crashedLastLaunch() {
  auto facade = DozidiCrash::sharedInstance();
  return facade && facade->crashedLastLaunch();
}

double DozidiCrashWrapper::activeDurationSinceLastCrash() {
  auto facade = DozidiCrash::sharedInstance();
  return facade ? facade->activeDurationSinceLastCrash() : 0;
}

bool DozidiCrashWrapper::isApplicationInForeground() {
  const DozidiCrash_AppState* state = dozidicrashstate_currentState();
  return state != nullptr && state->applicationIsInForeground;
}

foundation::Dictionary DozidiCrashWrapper::systemInfo() {
  static std::once_flag once;
  static auto* cached = new foundation::Dictionary;
  std::call_once(once, [] {
    if (auto facade = DozidiCrash::sharedInstance()) *cached = facade->systemInfo();
  });
  return *cached;
}

void DozidiCrashWrapper::installAsyncHooks() { dozidicrash_installAsyncHooks(); }
void DozidiCrashWrapper::uninstallAsyncHooks() { dozidicrash_uninstallAsyncHooks(); }

double DozidiCrashWrapper::durationFromCrashStateInitToLastCrash() {
  const DozidiCrash_AppState* state = dozidicrashstate_currentState();
  return state != nullptr ? state->durationFromCrashStateInitToLastCrash : 0;
}

bool DozidiCrashWrapper::isBeingTraced() { return dozidi_isBeingTraced(); }

std::uint64_t DozidiCrashWrapper::freeMemorySize() {
  struct sysinfo info {};
  if (sysinfo(&info) != 0) return 0;
  return static_cast<std::uint64_t>(info.freeram) * info.mem_unit;
}

std::uint64_t DozidiCrashWrapper::freeStorageSize() {
  const char* home = std::getenv("HOME");
  struct statvfs fs {};
  if (statvfs(home && *home ? home : "/", &fs) != 0) return 0;
  return static_cast<std::uint64_t>(fs.f_bavail) * fs.f_frsize;
}

std::uint64_t DozidiCrashWrapper::appMemorySize() {
  std::FILE* file = std::fopen("/proc/self/statm", "r");
  if (!file) return 0;
  unsigned long size = 0, resident = 0;
  const int read = std::fscanf(file, "%lu %lu", &size, &resident);
  std::fclose(file);
  if (read != 2) return 0;
  return static_cast<std::uint64_t>(resident) * static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
}
