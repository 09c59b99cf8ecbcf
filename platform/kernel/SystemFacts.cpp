#include "platform/kernel/SystemFacts.h"

#include "platform/kernel/detail/ProcText.h"

#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/sysinfo.h>
#include <sys/utsname.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace kernel {

namespace {

void copyText(const char* from, char* to, std::size_t length) {
  std::size_t n = std::strlen(from);
  if (n >= length) n = length - 1;
  std::memcpy(to, from, n);
  to[n] = '\0';
}

// Copies the first line of a file without its newline; false when the file is missing or empty.
bool readFirstLine(const char* path, char* buffer, std::size_t length) {
  char text[256];
  long n = detail::readSmallFile(path, text, sizeof text);
  if (n <= 0 || length == 0) return false;
  char* end = std::strchr(text, '\n');
  if (end != nullptr) *end = '\0';
  // Device-tree strings end with a NUL of their own.
  if (text[0] == '\0') return false;
  copyText(text, buffer, length);
  return true;
}

}  // namespace

bool readKernelName(KernelName* name) {
  utsname info{};
  if (::uname(&info) != 0) return false;
  copyText(info.sysname, name->systemName, sizeof name->systemName);
  copyText(info.release, name->release, sizeof name->release);
  copyText(info.version, name->version, sizeof name->version);
  copyText(info.machine, name->machine, sizeof name->machine);
  return true;
}

std::uint64_t totalMemory() {
  struct sysinfo info {};
  if (::sysinfo(&info) != 0) return 0;
  return static_cast<std::uint64_t>(info.totalram) * info.mem_unit;
}

bool readMemoryFigures(std::uint64_t* freeBytes, std::uint64_t* usableBytes) {
  char text[4096];
  std::uint64_t freeKiB = 0, availableKiB = 0;
  if (detail::readSmallFile("/proc/meminfo", text, sizeof text) > 0 &&
      detail::findNumberAfterKey(text, "MemFree:", &freeKiB) &&
      detail::findNumberAfterKey(text, "MemAvailable:", &availableKiB)) {
    *freeBytes = freeKiB * 1024;
    *usableBytes = availableKiB * 1024;
    return true;
  }
  struct sysinfo info {};
  if (::sysinfo(&info) != 0) return false;
  *freeBytes = static_cast<std::uint64_t>(info.freeram) * info.mem_unit;
  *usableBytes = *freeBytes;
  return true;
}

std::int64_t bootTimeSeconds() {
  char text[16384];
  std::uint64_t boot = 0;
  if (detail::readSmallFile("/proc/stat", text, sizeof text) <= 0) return 0;
  // "btime" starts its own line; search line starts only.
  const char* line = std::strstr(text, "\nbtime ");
  if (line == nullptr || !detail::findNumberAfterKey(line + 1, "btime", &boot)) return 0;
  return static_cast<std::int64_t>(boot);
}

bool readProcessStartTime(timeval* start) {
  char text[1024];
  if (detail::readSmallFile("/proc/self/stat", text, sizeof text) <= 0) return false;
  // The command name (field 2) may hold blanks and parentheses: count fields after its last ')'.
  const char* p = std::strrchr(text, ')');
  if (p == nullptr) return false;
  int field = 2;
  while (*p != '\0' && field < 22) {
    if (*p == ' ') ++field;
    ++p;
  }
  if (field != 22) return false;
  std::uint64_t ticks = 0;
  while (*p >= '0' && *p <= '9') ticks = ticks * 10 + static_cast<std::uint64_t>(*p++ - '0');
  long perSecond = ::sysconf(_SC_CLK_TCK);
  if (perSecond <= 0) return false;
  // The start is counted in clock ticks since boot. The boot time of /proc/stat is cut to whole
  // seconds, so the start is placed back from the wall clock by the time since it instead: the
  // result keeps the tick's precision.
  timespec wall{}, sinceBoot{};
  if (::clock_gettime(CLOCK_REALTIME, &wall) != 0 || ::clock_gettime(CLOCK_BOOTTIME, &sinceBoot) != 0) return false;
  const std::int64_t hz = perSecond;
  const std::int64_t startSinceBootUs =
      static_cast<std::int64_t>(ticks / static_cast<std::uint64_t>(hz)) * 1000000 +
      static_cast<std::int64_t>(ticks % static_cast<std::uint64_t>(hz)) * 1000000 / hz;
  const std::int64_t nowSinceBootUs = static_cast<std::int64_t>(sinceBoot.tv_sec) * 1000000 + sinceBoot.tv_nsec / 1000;
  const std::int64_t wallUs = static_cast<std::int64_t>(wall.tv_sec) * 1000000 + wall.tv_nsec / 1000;
  const std::int64_t startUs = wallUs - (nowSinceBootUs - startSinceBootUs);
  start->tv_sec = static_cast<time_t>(startUs / 1000000);
  start->tv_usec = static_cast<suseconds_t>(startUs % 1000000);
  return true;
}

bool isBeingTraced() {
  char text[4096];
  std::uint64_t tracer = 0;
  if (detail::readSmallFile("/proc/self/status", text, sizeof text) <= 0) return false;
  const char* line = std::strstr(text, "\nTracerPid:");
  return line != nullptr && detail::findNumberAfterKey(line + 1, "TracerPid:", &tracer) && tracer != 0;
}

bool readHardwareModel(char* buffer, std::size_t length) {
  return readFirstLine("/sys/devices/virtual/dmi/id/product_name", buffer, length) ||
         readFirstLine("/proc/device-tree/model", buffer, length);
}

bool readOperatingSystemVersion(char* buffer, std::size_t length) {
  char text[4096];
  if (detail::readSmallFile("/etc/os-release", text, sizeof text) <= 0 || length == 0) return false;
  const char* line = text;
  while (line != nullptr && std::strncmp(line, "VERSION_ID=", 11) != 0) {
    line = std::strchr(line, '\n');
    if (line != nullptr) ++line;
  }
  if (line == nullptr) return false;
  const char* value = line + 11;
  std::size_t n = std::strcspn(value, "\n");
  if (n >= 2 && (value[0] == '"' || value[0] == '\'') && value[n - 1] == value[0]) {
    ++value;
    n -= 2;
  }
  if (n >= length) n = length - 1;
  std::memcpy(buffer, value, n);
  buffer[n] = '\0';
  return n > 0;
}

bool readMacAddress(const char* interfaceName, std::uint8_t address[6]) {
  if (interfaceName == nullptr || std::strlen(interfaceName) >= IFNAMSIZ) {
    errno = ENODEV;
    return false;
  }
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  ifreq request{};
  std::memcpy(request.ifr_name, interfaceName, std::strlen(interfaceName));
  int result = ::ioctl(fd, SIOCGIFHWADDR, &request);
  int savedErrno = errno;
  ::close(fd);
  if (result != 0) {
    errno = savedErrno;
    return false;
  }
  std::memcpy(address, request.ifr_hwaddr.sa_data, 6);
  return true;
}

}  // namespace kernel
