// The app state record, its file form, and the manager's counted start and lifecycle updates.
#include <gtest/gtest.h>

#include "DebugLogDeviceRoot.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiOptions.h"
#include "dozidi-cocoa/Sources/Dozidi/Integrations/DozidiAppState.h"
#include "dozidi-cocoa/Sources/Dozidi/Integrations/DozidiAppStateManager.h"
#include "dozidi-cocoa/Sources/Dozidi/Integrations/DozidiCrashWrapper.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiCurrentDate.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiDispatchQueueWrapper.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiFoundationHelpers.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiNSNotificationCenterWrapper.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiSysctl.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiTime.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiFileManager.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/NotificationCenter.h"

namespace {

using foundation::Date;
using foundation::Dictionary;

// 2023-11-14T22:13:20.600Z
const Date kBoot = Date::fromTimeIntervalSince1970(1'700'000'000.6);

class RunAtOnce final : public DozidiDispatchQueueWrapper {
 public:
  RunAtOnce() : DozidiDispatchQueueWrapper("run-at-once") {}
  void dispatchAsyncWithBlock(std::function<void()> block) override { block(); }
};

struct FixedBoot : DozidiSysctl {
  Date systemBootTimestamp() const override { return kBoot; }
};

TEST(ReporterAppStateTests, RecordRoundsTheBootTimeAndReadsBackEqual) {
  DozidiAppState state("app@1.0+1", "6.1.0", "ABC", true, kBoot);
  EXPECT_EQ(state.systemBootTimestamp().timeIntervalSince1970(), 1'700'000'001.0);
  state.setIsActive(true);
  state.setIsANROngoing(true);
  const Dictionary json = state.serialize();
  EXPECT_EQ(json["system_boot_timestamp"].asString(), "2023-11-14T22:13:21.000Z");
  auto back = DozidiAppState::initWithJSONObject(json);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->serialize(), json);
}

TEST(ReporterAppStateTests, EveryKeyIsRequiredWithItsKind) {
  const Dictionary good = DozidiAppState("r", "v", "ID", false, kBoot).serialize();
  const struct {
    const char* name;
    const char* key;
    foundation::Value value;
  } cases[] = {
      {"missing anr flag", "is_anr_ongoing", foundation::Value()},
      {"anr flag as text", "is_anr_ongoing", "true"},
      {"release as number", "release_name", 3},
      {"boot time not a date", "system_boot_timestamp", "yesterday"},
      {"boot time as number", "system_boot_timestamp", 1'700'000'000},
      {"missing vendor", "vendor_id", foundation::Value()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Dictionary json = good;
    json.set(c.key, c.value);
    EXPECT_EQ(DozidiAppState::initWithJSONObject(json), nullptr);
  }
  // Flags are read as numbers: 1 and 0 read as true and false.
  Dictionary numbers = good;
  numbers.set("is_active", 1);
  auto state = DozidiAppState::initWithJSONObject(numbers);
  ASSERT_TRUE(state);
  EXPECT_TRUE(state->isActive());
}

class ReporterAppStateManagerTests : public DebugLogDeviceRoot {
 protected:
  void SetUp() override {
    DebugLogDeviceRoot::SetUp();
    auto options = DozidiOptions::create();
    options->setDsn(std::string("http://0123456789abcdef0123456789abcdef@127.0.0.1:9/42"));
    foundation::Error error("", 0);
    fileManager = DozidiFileManager::initWithOptions(*options, nullptr, std::make_shared<RunAtOnce>(), &error);
    ASSERT_TRUE(fileManager);
    manager = std::make_shared<DozidiAppStateManager>("app@2.0", DozidiCrashWrapper::sharedInstance(), fileManager,
                                                      std::make_shared<FixedBoot>(), std::make_shared<RunAtOnce>(),
                                                      DozidiNSNotificationCenterWrapper::create());
  }
  static void post(const char* name) { foundation::NotificationCenter::defaultCenter().post(name); }

  std::shared_ptr<DozidiFileManager> fileManager;
  std::shared_ptr<DozidiAppStateManager> manager;
};

TEST_F(ReporterAppStateManagerTests, UpdatesFollowTheLifecycleWhileStarted) {
  manager->start();
  auto stored = fileManager->readAppState();
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->releaseName(), "app@2.0");
  EXPECT_EQ(stored->systemBootTimestamp().timeIntervalSince1970(), 1'700'000'001.0);
  EXPECT_FALSE(stored->isActive());

  post(DozidiNSNotificationCenterWrapper::didBecomeActiveNotificationName());
  EXPECT_TRUE(fileManager->readAppState()->isActive());
  post(DozidiNSNotificationCenterWrapper::willResignActiveNotificationName());
  EXPECT_FALSE(fileManager->readAppState()->isActive());
  post(DozidiAppStateManager::kHybridSdkDidBecomeActive);
  EXPECT_TRUE(fileManager->readAppState()->isActive());

  // Counted: a second start only counts, the first stop keeps observing, the second ends it.
  manager->start();
  manager->stop();
  post(DozidiNSNotificationCenterWrapper::willTerminateNotificationName());
  EXPECT_TRUE(fileManager->readAppState()->wasTerminated());
  manager->stop();
  manager->stop();
  EXPECT_EQ(manager->startCount(), 0);
  post(DozidiNSNotificationCenterWrapper::willResignActiveNotificationName());
  EXPECT_TRUE(fileManager->readAppState()->isActive());
}

TEST_F(ReporterAppStateManagerTests, UpdateWithoutAStoredRecordCreatesNoFile) {
  manager->updateAppState([](DozidiAppState& state) { state.setIsActive(true); });
  EXPECT_FALSE(foundation::FileManager::defaultManager().fileExists(fileManager->appStateFilePath()));
  // A damaged file counts as no record and stays as it is.
  ASSERT_TRUE(foundation::FileManager::defaultManager().writeFileAtomically(fileManager->appStateFilePath(), std::string_view("{\"is_active\":")).ok());
  manager->updateAppState([](DozidiAppState& state) { state.setIsActive(true); });
  EXPECT_EQ(fileManager->readAppState(), nullptr);
}

TEST_F(ReporterAppStateManagerTests, PreviousRunsRecordIsReadAfterTheMove) {
  manager->start();
  manager->updateAppState([](DozidiAppState& state) { state.setWasTerminated(true); });
  fileManager->moveAppStateToPreviousAppState();
  auto previous = manager->loadPreviousAppState();
  ASSERT_TRUE(previous);
  EXPECT_TRUE(previous->wasTerminated());
  EXPECT_EQ(fileManager->readAppState(), nullptr);
}

TEST(ReporterClockTests, DurationsAndLoadTimeMarks) {
  EXPECT_EQ(getDurationNs(5, 5), 0u);
  const std::uint64_t a = getAbsoluteTime();
  EXPECT_GE(getAbsoluteTime(), a);
  DozidiSysctl sysctl;
  EXPECT_LE(sysctl.runtimeInitTimestamp(), sysctl.moduleInitializationTimestamp());
  EXPECT_GT(sysctl.runtimeInitTimestamp().timeIntervalSince1970(), 0);
  EXPECT_LE(sysctl.processStartTimestamp(), sysctl.moduleInitializationTimestamp().addingTimeInterval(0.02));
  EXPECT_EQ(sysctl.systemBootTimestamp(), sysctl.systemBootTimestamp());
  EXPECT_EQ(DozidiSysctl::dateFromTimeval(timeval{}).timeIntervalSince1970(), 0.0);
}

}  // namespace
