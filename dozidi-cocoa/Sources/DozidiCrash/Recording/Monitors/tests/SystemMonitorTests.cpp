#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Monitors/DozidiCrashDate.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Monitors/DozidiCrashDebug.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Monitors/DozidiCrashMonitor_System.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Monitors/DozidiCrashSysCtl.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashDynamicLinker.h"

#include <gtest/gtest.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

TEST(SystemMonitorTests, CpuArchitectureTable) {
  struct Case {
    std::int32_t type;
    std::int32_t subtype;
    const char* expected;
  } cases[] = {
      {0x100000C, 0, "arm64"}, {0x100000C, 99, "arm64"}, {0x1000007, 3, "x86_64"}, {7, 0, "x86"},
      {12, 9, "armv7"},        {12, 11, "armv7s"},      {12, 7, nullptr},         {99, 0, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.type) + "/" + std::to_string(c.subtype));
    const char* name = dozidicrashcm_system_cpuArchitecture(c.type, c.subtype);
    if (c.expected == nullptr) {
      EXPECT_EQ(name, nullptr);
    } else {
      EXPECT_STREQ(name, c.expected);
    }
  }
}

TEST(SystemMonitorTests, KernelQueries) {
  utsname expected{};
  ASSERT_EQ(uname(&expected), 0);
  int needed = dozidicrashsysctl_stringForName("hw.machine", nullptr, 0);
  EXPECT_EQ(needed, static_cast<int>(std::strlen(expected.machine)) + 1);
  char machine[64];
  EXPECT_EQ(dozidicrashsysctl_stringForName("hw.machine", machine, sizeof machine), needed);
  EXPECT_STREQ(machine, expected.machine);
  EXPECT_EQ(dozidicrashsysctl_stringForName("hw.machine", machine, 2), 0);

  errno = 0;
  EXPECT_EQ(dozidicrashsysctl_stringForName("no.such.key", machine, sizeof machine), 0);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(dozidicrashsysctl_int32ForName("no.such.key"), 0);
  EXPECT_EQ(dozidicrashsysctl_int32ForName("hw.cputype"), 0x1000007);
  EXPECT_GT(dozidicrashsysctl_uint64ForName("hw.memsize"), 0u);
  EXPECT_GT(dozidicrashsysctl_timevalForName("kern.boottime").tv_sec, 0);
  EXPECT_EQ(dozidicrashsysctl_timevalForName("kern.nothing").tv_sec, 0);
  EXPECT_EQ(dozidicrashsysctl_timeval(kDozidiCrashCtlKern, kDozidiCrashKernBoottime).tv_sec,
            dozidicrashsysctl_timevalForName("kern.boottime").tv_sec);
  EXPECT_GT(dozidicrashsysctl_currentProcessStartTime().tv_sec, 0);

  std::uint8_t mac[6] = {1, 1, 1, 1, 1, 1};
  EXPECT_TRUE(dozidicrashsysctl_getMacAddress("lo", mac));
  EXPECT_EQ(mac[0] | mac[1] | mac[2] | mac[3] | mac[4] | mac[5], 0);
  EXPECT_FALSE(dozidicrashsysctl_getMacAddress("no-such-if0", mac));
  EXPECT_FALSE(dozidicrashdebug_isBeingTraced());
}

TEST(SystemMonitorTests, UTCText) {
  char text[kDozidiCrashUTCStringLength];
  dozidicrashdate_utcString(0, text);
  EXPECT_STREQ(text, "1970-01-01T00:00:00Z");
  dozidicrashdate_utcString(951782400, text);
  EXPECT_STREQ(text, "2000-02-29T00:00:00Z");
}

TEST(SystemMonitorTests, FactsDescribeThisLinuxAndThisProcess) {
  EXPECT_EQ(dozidicrashcm_system_currentFacts(), nullptr);
  dozidicrashcm_system_setEnabled(true);
  ASSERT_TRUE(dozidicrashcm_system_isEnabled());
  // The facts read from the images are whole once enabled: concurrent readers all see them.
  std::vector<std::thread> readers;
  const char* appIDs[4] = {};
  for (int i = 0; i < 4; ++i) {
    readers.emplace_back([i, &appIDs] { appIDs[i] = dozidicrashcm_system_currentFacts()->appID; });
  }
  for (std::thread& reader : readers) reader.join();
  const DozidiCrashSystemFacts* facts = dozidicrashcm_system_currentFacts();
  ASSERT_NE(facts, nullptr);
  for (const char* appID : appIDs) EXPECT_EQ(appID, facts->appID);
  utsname expected{};
  ASSERT_EQ(uname(&expected), 0);
  EXPECT_STREQ(facts->machine, expected.machine);
  EXPECT_STREQ(facts->osVersion, expected.release);
  EXPECT_STREQ(facts->systemName, "Linux");
  EXPECT_STREQ(facts->cpuArchitecture, "x86_64");
  EXPECT_EQ(facts->binaryCPUType, 0x1000007);
  EXPECT_EQ(facts->processID, getpid());
  EXPECT_EQ(facts->parentProcessID, getppid());
  EXPECT_FALSE(facts->isJailbroken);
  EXPECT_STREQ(facts->buildType, "unknown");
  ASSERT_NE(facts->deviceAppHash, nullptr);
  EXPECT_EQ(std::strlen(facts->deviceAppHash), 40u);
  EXPECT_EQ(std::strspn(facts->deviceAppHash, "0123456789abcdef"), 40u);
  ASSERT_NE(facts->bootTime, nullptr);
  EXPECT_EQ(std::strlen(facts->bootTime), 20u);
  // The app's id is the executable's build-id as UUID text.
  ASSERT_NE(facts->appID, nullptr);
  char uuid[37];
  dozidicrashdl_uuidToString(dozidicrashdl_imageUUID(facts->executablePath, true), uuid);
  EXPECT_STREQ(facts->appID, uuid);
  EXPECT_GT(facts->memorySize, 0u);
  EXPECT_GT(facts->storageSize, 0u);
  EXPECT_GT(facts->freeMemory, 0u);
  EXPECT_GE(facts->usableMemory, facts->freeMemory);
  EXPECT_GT(dozidicrashcm_system_freeMemorySize(), 0u);
  EXPECT_FALSE(dozidicrashcm_system_isSimulatorBuild());

  // Disabling keeps the facts; enabling again does not gather again.
  dozidicrashcm_system_setEnabled(false);
  EXPECT_EQ(dozidicrashcm_system_currentFacts(), nullptr);
  const char* hash = facts->deviceAppHash;
  dozidicrashcm_system_setEnabled(true);
  EXPECT_EQ(dozidicrashcm_system_currentFacts()->deviceAppHash, hash);
  dozidicrashcm_system_setEnabled(false);
}

}  // namespace
