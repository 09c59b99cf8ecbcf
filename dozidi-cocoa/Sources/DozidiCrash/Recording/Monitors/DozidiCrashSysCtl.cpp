#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Monitors/DozidiCrashSysCtl.h"

#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashLogger.h"
#include "platform/kernel/SystemFacts.h"

#include <net/if.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace {

// CPU type and subtype numbers of the report, from the machine name.
struct CpuNumbers {
  std::int32_t type;
  std::int32_t subtype;
};

CpuNumbers cpuNumbers() {
  kernel::KernelName name;
  if (!kernel::readKernelName(&name)) return {0, 0};
  if (std::strcmp(name.machine, "x86_64") == 0) return {0x1000007, 3};
  if (std::strcmp(name.machine, "aarch64") == 0) return {0x100000C, 0};
  return {0, 0};
}

// The text behind a string key; false (errno set) for an unknown or unavailable key.
bool stringValue(const char* name, char* out, std::size_t length) {
  kernel::KernelName kernelName;
  if (std::strcmp(name, "hw.model") == 0) {
    if (kernel::readHardwareModel(out, length)) return true;
    errno = ENOENT;
    return false;
  }
  const char* text = nullptr;
  if (!kernel::readKernelName(&kernelName)) return false;
  if (std::strcmp(name, "hw.machine") == 0) text = kernelName.machine;
  else if (std::strcmp(name, "kern.version") == 0) text = kernelName.version;
  else if (std::strcmp(name, "kern.osversion") == 0) text = kernelName.release;
  else if (std::strcmp(name, "kern.ostype") == 0) text = kernelName.systemName;
  if (text == nullptr) {
    errno = ENOENT;
    return false;
  }
  std::size_t n = std::strlen(text);
  if (n >= length) n = length - 1;
  std::memcpy(out, text, n);
  out[n] = '\0';
  return true;
}

timeval bootTime() {
  // The boot time does not change while the process runs: /proc/stat is read once, not for each
  // of the install's readers (the system facts and the app state).
  static std::atomic<time_t> known{0};
  timeval value{};
  value.tv_sec = known.load(std::memory_order_relaxed);
  if (value.tv_sec == 0) {
    value.tv_sec = static_cast<time_t>(kernel::bootTimeSeconds());
    known.store(value.tv_sec, std::memory_order_relaxed);
  }
  if (value.tv_sec == 0) errno = ENOENT;
  return value;
}

}  // namespace

std::int32_t dozidicrashsysctl_int32ForName(const char* name) {
  CpuNumbers cpu = cpuNumbers();
  if (std::strcmp(name, "hw.cputype") == 0 && cpu.type != 0) return cpu.type;
  if (std::strcmp(name, "hw.cpusubtype") == 0 && cpu.type != 0) return cpu.subtype;
  errno = ENOENT;
  DOZIDICRASHLOG_ERROR("Could not get %s value for %s: %s", "sysctlbyname(name, &value, &size, NULL, 0)", name, std::strerror(errno));
  return 0;
}

std::uint64_t dozidicrashsysctl_uint64ForName(const char* name) {
  if (std::strcmp(name, "hw.memsize") == 0) {
    std::uint64_t total = kernel::totalMemory();
    if (total != 0) return total;
  }
  errno = ENOENT;
  DOZIDICRASHLOG_ERROR("Could not get %s value for %s: %s", "sysctlbyname(name, &value, &size, NULL, 0)", name, std::strerror(errno));
  return 0;
}

int dozidicrashsysctl_stringForName(const char* name, char* value, int maxSize) {
  char text[257];
  if (!stringValue(name, text, sizeof text)) {
    // Many machines have no firmware model: that is a fact to note, not an error.
    if (std::strcmp(name, "hw.model") == 0) {
      DOZIDICRASHLOG_DEBUG("No firmware model on this machine");
      return 0;
    }
    DOZIDICRASHLOG_ERROR("Could not get %s value for %s: %s", "sysctlbyname(name, value, &size, NULL, 0)", name, std::strerror(errno));
    return 0;
  }
  int needed = static_cast<int>(std::strlen(text)) + 1;
  if (value == nullptr) return needed;
  if (maxSize < needed) {
    errno = ENOMEM;
    DOZIDICRASHLOG_ERROR("Could not get %s value for %s: %s", "sysctlbyname(name, value, &size, NULL, 0)", name, std::strerror(errno));
    return 0;
  }
  std::memcpy(value, text, static_cast<std::size_t>(needed));
  return needed;
}

timeval dozidicrashsysctl_timeval(int major, int minor) {
  if (major == kDozidiCrashCtlKern && minor == kDozidiCrashKernBoottime) {
    timeval value = bootTime();
    if (value.tv_sec != 0) return value;
  }
  errno = ENOENT;
  DOZIDICRASHLOG_ERROR("Could not get timeval value for %d,%d: %s", major, minor, std::strerror(errno));
  return timeval{};
}

timeval dozidicrashsysctl_timevalForName(const char* name) {
  if (std::strcmp(name, "kern.boottime") == 0) {
    timeval value = bootTime();
    if (value.tv_sec != 0) return value;
  }
  errno = ENOENT;
  DOZIDICRASHLOG_ERROR("Could not get timeval value for %s: %s", name, std::strerror(errno));
  return timeval{};
}

timeval dozidicrashsysctl_currentProcessStartTime() {
  timeval start{};
  if (!kernel::readProcessStartTime(&start)) {
    DOZIDICRASHLOG_ERROR("Could not get current process start time: %s", std::strerror(errno != 0 ? errno : ENOENT));
    return timeval{};
  }
  return start;
}

bool dozidicrashsysctl_getMacAddress(const char* interfaceName, std::uint8_t* macAddress) {
  if (interfaceName == nullptr || if_nametoindex(interfaceName) == 0) {
    DOZIDICRASHLOG_ERROR("Could not get interface index for %s: %s", interfaceName != nullptr ? interfaceName : "(null)",
                                std::strerror(errno != 0 ? errno : ENODEV));
    return false;
  }
  if (!kernel::readMacAddress(interfaceName, macAddress)) {
    DOZIDICRASHLOG_ERROR("Could not get interface data for %s: %s", interfaceName, std::strerror(errno));
    return false;
  }
  return true;
}
