#include "dozidi-cocoa/Sources/Dozidi/Performance/Profiling/DozidiDevice.h"

#include <gtest/gtest.h>
#include <sys/utsname.h>

using namespace dozidi::device;

namespace {

std::string gMachine;
bool gKernelKnown = true;
std::string gModel;
std::string gOsVersion;

bool fakeKernel(std::string* system, std::string* release, std::string* version, std::string* machine) {
  if (!gKernelKnown) return false;
  *system = "Linux";
  *release = "6.1.0-13-amd64";
  *version = "#1 SMP PREEMPT_DYNAMIC Debian 6.1.55-1";
  *machine = gMachine;
  return true;
}
bool fakeModel(std::string* model) {
  *model = gModel;
  return !gModel.empty();
}
bool fakeOsVersion(std::string* version) {
  *version = gOsVersion;
  return !gOsVersion.empty();
}
const DeviceFactsSource kFake{fakeKernel, fakeModel, fakeOsVersion};

TEST(ProfilingDeviceTests, ArchitectureNames) {
  const std::pair<const char*, const char*> cases[] = {
      {"x86_64", "x86_64"}, {"aarch64", "arm64"}, {"i686", "x86"}, {"armv7l", "arm"}, {"riscv64", "riscv64"},
      {"", "unknown CPU type"}};
  gKernelKnown = true;
  for (auto [machine, expected] : cases) {
    gMachine = machine;
    EXPECT_EQ(getCPUArchitecture(kFake), expected) << machine;
  }
  gKernelKnown = false;
  EXPECT_EQ(getCPUArchitecture(kFake), "unknown CPU type");
}

TEST(ProfilingDeviceTests, FallbacksWhenFactsAreMissing) {
  gKernelKnown = true;
  gMachine = "x86_64";
  gModel = "";
  gOsVersion = "";
  // No firmware model: the machine name; no distribution version: the kernel release.
  EXPECT_EQ(getDeviceModel(kFake), "x86_64");
  EXPECT_EQ(getOSVersion(kFake), "6.1.0-13-amd64");
  gModel = "Standard PC (Q35 + ICH9, 2009)";
  gOsVersion = "12";
  EXPECT_EQ(getDeviceModel(kFake), "Standard PC (Q35 + ICH9, 2009)");
  EXPECT_EQ(getOSVersion(kFake), "12");
  EXPECT_EQ(getOSName(kFake), "Linux");
  EXPECT_EQ(getOSBuildNumber(kFake), "#1 SMP PREEMPT_DYNAMIC Debian 6.1.55-1");

  gKernelKnown = false;
  gModel = "";
  gOsVersion = "";
  EXPECT_EQ(getDeviceModel(kFake), "");
  EXPECT_EQ(getOSBuildNumber(kFake), "");
  EXPECT_EQ(getOSName(kFake), "");
  EXPECT_EQ(getOSVersion(kFake), "");
}

TEST(ProfilingDeviceTests, TheMachinesOwnFacts) {
  utsname name{};
  ASSERT_EQ(::uname(&name), 0);
  EXPECT_EQ(getOSName(), name.sysname);
  EXPECT_EQ(getOSBuildNumber(), name.version);
  EXPECT_EQ(getCPUArchitecture(), std::string(name.machine) == "aarch64" ? "arm64" : name.machine);
  EXPECT_FALSE(getDeviceModel().empty());
}

}  // namespace
