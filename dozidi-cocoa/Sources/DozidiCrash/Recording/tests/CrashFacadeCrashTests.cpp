// Real crashes through the facade: a child installs the recorder with user info and dies; the
// test reads the report back through a facade on the same folder.
#include <gtest/gtest.h>

#include <csignal>

#include "dozidi-cocoa/Sources/DozidiCrash/Recording/DozidiCrash.h"
#include "testing/ProgramRun.h"
#include "testing/TemporaryFolder.h"

namespace {

using foundation::Value;

TEST(CrashFacadeCrashTests, ReportsOfRealCrashesCarryDiagnosisTimestampAndUserInfo) {
  struct Case {
    const char* scenario;
    int signal;
    std::optional<std::string> diagnosis;
  } cases[] = {
      {"null", SIGSEGV, "Attempted to dereference null pointer."},
      {"divide-by-zero", SIGFPE, "Math error (usually caused from division by 0)."},
      {"throw", SIGABRT, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.scenario);
    testing_support::TemporaryFolder folder("crash-facade-child");
    // The watchdog: a child whose crash handling hangs is killed and fails the status check.
    const testing_support::ProgramRun run = testing_support::runProgram(
        {"/usr/bin/timeout", "-s", "KILL", "20", FACADE_CRASH_CHILD, c.scenario, folder.path()},
        testing_support::environmentWith({}), folder.path());
    ASSERT_EQ(run.status, 128 + c.signal) << run.out << run.err;

    const std::shared_ptr<DozidiCrash> crash = DozidiCrash::initWithBasePath(folder.path());
    crash->setMonitoring(0x40 | 0x80);
    ASSERT_TRUE(crash->install());
    const foundation::Array reports = crash->allReports();
    crash->uninstall();
    ASSERT_EQ(reports.size(), 1u);
    const Value& report = reports[0];
    EXPECT_EQ(report["user"]["a"], Value(1));
    const std::string* timestamp = report["report"]["timestamp"].string();
    ASSERT_NE(timestamp, nullptr);
    EXPECT_TRUE(timestamp->ends_with("Z")) << *timestamp;
    const Value& diagnosis = report["crash"]["diagnosis"];
    if (c.diagnosis) {
      EXPECT_EQ(diagnosis, Value(*c.diagnosis));
    } else {
      EXPECT_TRUE(diagnosis.isAbsent()) << diagnosis.description();
    }
  }
}

}  // namespace
