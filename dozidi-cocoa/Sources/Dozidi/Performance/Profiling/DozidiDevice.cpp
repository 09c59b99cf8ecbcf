#include "dozidi-cocoa/Sources/Dozidi/Performance/Profiling/DozidiDevice.h"

#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiLog.h"
#include "platform/kernel/SystemFacts.h"
#include "platform/kernel/detail/ProcText.h"

#include <cerrno>
#include <cstring>

namespace dozidi::device {

namespace {

bool readUname(std::string* system, std::string* release, std::string* version, std::string* machine) {
  errno = 0;
  kernel::KernelName name{};
  if (!kernel::readKernelName(&name)) {
    DOZIDI_LOG_ERROR(std::string("uname(&name) failed with code: ") + std::to_string(errno) +
                     ", description: " + std::strerror(errno));
    return false;
  }
  *system = name.systemName;
  *release = name.release;
  *version = name.version;
  *machine = name.machine;
  return true;
}

bool readModel(std::string* model) {
  char buffer[128] = {};
  if (!kernel::readHardwareModel(buffer, sizeof buffer)) return false;
  *model = buffer;
  return true;
}

bool readOsVersion(std::string* version) {
  char buffer[128] = {};
  if (!kernel::readOperatingSystemVersion(buffer, sizeof buffer)) return false;
  *version = buffer;
  return true;
}

struct KernelFacts {
  bool known = false;
  std::string system, release, version, machine;
};

KernelFacts kernelFacts(const DeviceFactsSource& source) {
  KernelFacts facts;
  facts.known = source.kernelName != nullptr &&
                source.kernelName(&facts.system, &facts.release, &facts.version, &facts.machine);
  return facts;
}

}  // namespace

const DeviceFactsSource& machineSource() {
  static const DeviceFactsSource source{readUname, readModel, readOsVersion};
  return source;
}

std::string getCPUArchitecture(const DeviceFactsSource& source) {
  KernelFacts facts = kernelFacts(source);
  if (!facts.known || facts.machine.empty()) return "unknown CPU type";
  const std::string& m = facts.machine;
  if (m == "x86_64" || m == "amd64") return "x86_64";
  if (m == "aarch64" || m == "arm64") return "arm64";
  if (m.size() == 4 && m[0] == 'i' && m[2] == '8' && m[3] == '6') return "x86";
  if (m.rfind("arm", 0) == 0) return "arm";
  return m;
}

std::string getOSName(const DeviceFactsSource& source) {
  KernelFacts facts = kernelFacts(source);
  return facts.known ? facts.system : std::string();
}

std::string getOSVersion(const DeviceFactsSource& source) {
  std::string version;
  if (source.operatingSystemVersion != nullptr && source.operatingSystemVersion(&version) && !version.empty()) {
    return version;
  }
  KernelFacts facts = kernelFacts(source);
  return facts.known ? facts.release : std::string();
}

std::string getOSBuildNumber(const DeviceFactsSource& source) {
  KernelFacts facts = kernelFacts(source);
  return facts.known ? facts.version : std::string();
}

std::string getDeviceModel(const DeviceFactsSource& source) {
  std::string model;
  if (source.hardwareModel != nullptr && source.hardwareModel(&model) && !model.empty()) {
    DOZIDI_LOG_DEBUG("Model name from the firmware: " + model);
    return model;
  }
  DOZIDI_LOG_DEBUG("Model name from the firmware was empty.");
  KernelFacts facts = kernelFacts(source);
  if (facts.known && !facts.machine.empty()) {
    DOZIDI_LOG_DEBUG("Model name using the machine name: " + facts.machine);
    return facts.machine;
  }
  return "";
}

}  // namespace dozidi::device

namespace dozidi::device {
std::string getDeviceManufacturer() {
  char buffer[128] = {};
  if (kernel::detail::readSmallFile("/sys/devices/virtual/dmi/id/sys_vendor", buffer, sizeof buffer) > 0) {
    std::string vendor(buffer);
    while (!vendor.empty() && (vendor.back() == '\n' || vendor.back() == ' ')) vendor.pop_back();
    if (!vendor.empty()) return vendor;
  }
  return "unknown";
}
}  // namespace dozidi::device
