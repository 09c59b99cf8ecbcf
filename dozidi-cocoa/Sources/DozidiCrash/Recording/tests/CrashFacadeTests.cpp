#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiNSNotificationCenterWrapper.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/DozidiCrash.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Monitors/DozidiCrashMonitor_AppState.h"
#include "platform/foundation/NotificationCenter.h"
#include "testing/TemporaryFolder.h"

namespace {

using foundation::Array;
using foundation::Dictionary;
using foundation::Value;
namespace fs = std::filesystem;

// The system and application-state monitors only: installing them in the test process takes no
// signal handlers.
constexpr std::int32_t kQuietMonitors = 0x40 | 0x80;

/// Counts registrations instead of observing.
class CountingCenter final : public DozidiNSNotificationCenterWrapper {
 public:
  static std::shared_ptr<CountingCenter> make() { return std::shared_ptr<CountingCenter>(new CountingCenter()); }
  void addObserver(const void* observer, std::string name, Handler handler) override {
    ++added;
    DozidiNSNotificationCenterWrapper::addObserver(observer, std::move(name), std::move(handler));
  }
  int added = 0;
};

/// Hands the reports it receives to the test and completes with the given flag, after running
/// `during` (to change the store while a send is in flight).
class RecordingSink final : public DozidiCrashReportFilter {
 public:
  explicit RecordingSink(bool completes) : completes_(completes) {}
  void filterReports(Array reports, DozidiCrashReportFilterCompletion onCompletion) override {
    received = reports;
    if (during) during();
    onCompletion(std::move(reports), completes_, std::nullopt);
  }
  Array received;
  std::function<void()> during;

 private:
  bool completes_;
};

class CrashFacadeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    crash_ = DozidiCrash::initWithBasePath(folder_.path());
    ASSERT_TRUE(crash_);
    center_ = CountingCenter::make();
    crash_->setNotificationCenter(center_);
    crash_->setMonitoring(kQuietMonitors);
  }
  void TearDown() override { crash_->uninstall(); }

  std::string reportPath(std::int64_t id, const char* suffix = ".json") {
    char name[64];
    std::snprintf(name, sizeof name, "-report-%016" PRIx64 "%s", static_cast<std::uint64_t>(id), suffix);
    return folder_.path() + "/Reports/" + crash_->bundleName() + name;
  }
  void store(std::int64_t id, const std::string& text) {
    fs::create_directories(folder_.path() + "/Reports");
    std::ofstream(reportPath(id)) << text;
  }
  void storeReport(std::int64_t id) {
    store(id, R"({"report":{"id":")" + std::to_string(id) +
                  R"(","timestamp":1700000000},)"
                  R"("crash":{"error":{"type":"signal","mach":{"exception_name":"EXC_BAD_ACCESS"},"address":0},)"
                  R"("threads":[{"crashed":true}]}})");
  }
  std::size_t filesInReports() {
    std::size_t count = 0;
    for (const auto& entry : fs::directory_iterator(folder_.path() + "/Reports")) count += entry.is_regular_file();
    return count;
  }
  struct Sent {
    std::optional<Array> reports;
    bool completed = false;
    std::optional<foundation::Error> error;
    bool called = false;
  };
  Sent sendAll() {
    Sent sent;
    crash_->sendAllReportsWithCompletion(
        [&sent](std::optional<Array> reports, bool completed, std::optional<foundation::Error> error) {
          sent = Sent{std::move(reports), completed, std::move(error), true};
        });
    return sent;
  }

  testing_support::TemporaryFolder folder_{"crash-facade"};
  std::shared_ptr<DozidiCrash> crash_;
  std::shared_ptr<CountingCenter> center_;
};

TEST_F(CrashFacadeTest, DefaultsAndTheZombieSwitch) {
  auto fresh = DozidiCrash::initWithBasePath(folder_.path());
  EXPECT_EQ(fresh->monitoring(), 0xEF);
  EXPECT_EQ(fresh->deleteBehaviorAfterSendAll(), 2);
  EXPECT_EQ(fresh->maxReportCount(), 5);
  EXPECT_TRUE(fresh->introspectMemory());
  EXPECT_FALSE(DozidiCrash::initWithBasePath(std::nullopt));

  fresh->setCatchZombies(true);
  EXPECT_EQ(fresh->monitoring(), 0x1EF);
  fresh->setCatchZombies(false);
  EXPECT_EQ(fresh->monitoring(), 0xEF);

  const std::shared_ptr<DozidiCrash> shared = DozidiCrash::sharedInstance();
  ASSERT_TRUE(shared);
  EXPECT_EQ(shared, DozidiCrash::sharedInstance());
  EXPECT_TRUE(shared->basePath().ends_with("/Library/Caches/DozidiCrash/" + shared->bundleName()))
      << shared->basePath();
  crash_->setMonitoring(kQuietMonitors);
}

TEST_F(CrashFacadeTest, InstallObservesTheLifeCycleAndRestoresTheMaskAfterUninstall) {
  crash_->setMonitoring(0);
  EXPECT_FALSE(crash_->install());
  EXPECT_EQ(center_->added, 0);
  crash_->uninstall();

  crash_->setMonitoring(kQuietMonitors);
  ASSERT_TRUE(crash_->install());
  EXPECT_EQ(center_->added, 5);
  EXPECT_TRUE(fs::is_directory(folder_.path() + "/Reports"));
  EXPECT_TRUE(fs::is_directory(folder_.path() + "/Data"));

  crash_->uninstall();
  EXPECT_EQ(crash_->monitoring(), 0);
  ASSERT_TRUE(crash_->install());
  EXPECT_EQ(crash_->monitoring(), kQuietMonitors);
}

TEST_F(CrashFacadeTest, LifeCycleNotificationsReachTheCrashStateUntilUninstall) {
  crash_->setNotificationCenter(DozidiNSNotificationCenterWrapper::create());
  ASSERT_TRUE(crash_->install());
  foundation::NotificationCenter& center = foundation::NotificationCenter::defaultCenter();
  center.post("UIApplicationDidBecomeActiveNotification");
  EXPECT_TRUE(dozidicrashstate_currentState()->applicationIsActive);
  center.post("UIApplicationDidEnterBackgroundNotification");
  EXPECT_FALSE(dozidicrashstate_currentState()->applicationIsInForeground);
  center.post("UIApplicationWillEnterForegroundNotification");
  EXPECT_TRUE(dozidicrashstate_currentState()->applicationIsInForeground);
  center.post("UIApplicationWillResignActiveNotification");
  EXPECT_FALSE(dozidicrashstate_currentState()->applicationIsActive);

  crash_->uninstall();
  center.post("UIApplicationDidBecomeActiveNotification");
  EXPECT_FALSE(dozidicrashstate_currentState()->applicationIsActive);
}

TEST_F(CrashFacadeTest, ReportsComeDecodedWithDiagnosisAndAttachments) {
  storeReport(0x10);
  storeReport(0x20);
  fs::create_directories(reportPath(0x10, "-attachments"));
  fs::create_directories(reportPath(0x20, "-attachments"));
  std::ofstream(reportPath(0x20, "-attachments") + "/screenshot.png") << "png";
  ASSERT_TRUE(crash_->install());

  EXPECT_EQ(crash_->reportIDs(), (std::vector<std::int64_t>{0x10, 0x20}));
  const Array reports = crash_->allReports();
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[0]["crash"]["diagnosis"], Value("Attempted to dereference null pointer."));
  EXPECT_NE(reports[0]["report"]["timestamp"].string(), nullptr);
  EXPECT_FALSE(reports[0].dictionary()->contains("attachments"));
  EXPECT_EQ(reports[1]["attachments"], Value(Array{reportPath(0x20, "-attachments") + "/screenshot.png"}));
}

TEST_F(CrashFacadeTest, SendAllDeletesOnlyReportsTheSinkTook) {
  for (std::int64_t id : {0x10, 0x20, 0x30}) storeReport(id);
  ASSERT_TRUE(crash_->install());

  Sent sent = sendAll();
  ASSERT_TRUE(sent.called);
  EXPECT_FALSE(sent.completed);
  EXPECT_EQ(sent.error->localizedDescription(), "No sink set. Crash reports not sent.");
  EXPECT_EQ(filesInReports(), 3u);

  auto failing = std::make_shared<RecordingSink>(false);
  crash_->setSink(failing);
  sent = sendAll();
  EXPECT_FALSE(sent.completed);
  EXPECT_EQ(failing->received.size(), 3u);
  EXPECT_EQ(filesInReports(), 3u);

  // A report written while the send is in flight is not among those read: it stays.
  auto sink = std::make_shared<RecordingSink>(true);
  sink->during = [this] { storeReport(0x40); };
  crash_->setSink(sink);
  sent = sendAll();
  EXPECT_TRUE(sent.completed);
  EXPECT_EQ(sink->received.size(), 3u);
  EXPECT_EQ(crash_->reportIDs(), (std::vector<std::int64_t>{0x40}));
}

TEST_F(CrashFacadeTest, UnreadableReportsAreDeletedAfterTheGoodOnesWereSent) {
  storeReport(0x10);
  store(0x20, "not json at all");
  storeReport(0x30);
  store(0x40, "");
  ASSERT_TRUE(crash_->install());
  auto sink = std::make_shared<RecordingSink>(true);
  crash_->setSink(sink);

  const Sent sent = sendAll();
  EXPECT_TRUE(sent.completed);
  ASSERT_EQ(sink->received.size(), 2u);
  EXPECT_EQ(sink->received[1]["report"]["id"], Value("48"));
  EXPECT_EQ(crash_->reportCount(), 0);
}

TEST_F(CrashFacadeTest, SendingNothingCompletesWithoutASink) {
  Sent sent;
  crash_->sendReports(Array{}, [&sent](std::optional<Array> reports, bool completed, std::optional<foundation::Error>) {
    sent.reports = std::move(reports);
    sent.completed = completed;
  });
  EXPECT_TRUE(sent.completed);
  EXPECT_EQ(sent.reports, Array{});
}

TEST_F(CrashFacadeTest, UserInfoThatCannotBeEncodedKeepsThePrevious) {
  crash_->setUserInfo(Dictionary{{"a", 1}});
  crash_->setUserInfo(Dictionary{{"bad", foundation::Error("domain", 1)}});
  EXPECT_EQ(crash_->userInfo(), (Dictionary{{"a", 1}}));
  crash_->setUserInfo(std::nullopt);
  EXPECT_FALSE(crash_->userInfo());
}

TEST_F(CrashFacadeTest, SystemInfoHasTheNumbersEvenWithoutTheSystemMonitor) {
  crash_->setMonitoring(0x80);
  ASSERT_TRUE(crash_->install());
  const Dictionary info = crash_->systemInfo();
  EXPECT_FALSE(info.contains("systemName"));
  EXPECT_TRUE(info.contains("processID"));
  EXPECT_TRUE(info.contains("usableMemorySize"));

  crash_->setMonitoring(kQuietMonitors);
  const Dictionary withFacts = crash_->systemInfo();
  EXPECT_EQ(withFacts["processID"], Value(static_cast<std::int32_t>(getpid())));
  EXPECT_NE(withFacts["systemName"].string(), nullptr);
}

}  // namespace
