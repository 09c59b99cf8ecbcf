#pragma once
// Facts about the machine for a profile's "os" and "device" objects: processor architecture,
// hardware model, system name, version and build. Each gives a fallback instead of failing.
#include <string>

namespace dozidi::device {

/// What the facts are read from; tests give their own.
struct DeviceFactsSource {
  /// uname: system name, release, build version and machine. False when uname fails.
  bool (*kernelName)(std::string* system, std::string* release, std::string* version, std::string* machine);
  /// The firmware's model text. False when there is none.
  bool (*hardwareModel)(std::string* model);
  /// The distribution's version text. False when there is none.
  bool (*operatingSystemVersion)(std::string* version);
};

/// Reads this machine.
const DeviceFactsSource& machineSource();

/// The processor as profile consumers name it: "x86_64", "arm64" for aarch64, "x86" for i386 to
/// i686, "arm" for other 32-bit ARM; any other machine name as the kernel gives it;
/// "unknown CPU type" when it cannot be read.
std::string getCPUArchitecture(const DeviceFactsSource& source = machineSource());
/// The kernel's system name ("Linux"); "" when unknown.
std::string getOSName(const DeviceFactsSource& source = machineSource());
/// The distribution's version, else the kernel release; "" when neither is known.
std::string getOSVersion(const DeviceFactsSource& source = machineSource());
/// The kernel's build text (uname version); "" when unknown.
std::string getOSBuildNumber(const DeviceFactsSource& source = machineSource());
/// The hardware model from the firmware tables, else the machine name; "" when both fail.
std::string getDeviceModel(const DeviceFactsSource& source = machineSource());

}  // namespace dozidi::device

namespace dozidi::device {
/// The hardware maker from the firmware tables; "unknown" when they give none.
std::string getDeviceManufacturer();
}  // namespace dozidi::device
