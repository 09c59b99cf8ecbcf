// Session tracking from posted application notifications, on the manual clock, against a
// loopback ingestion server.
#include <gtest/gtest.h>
#include <zlib.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <string>
#include <vector>

#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiClient.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiHub.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiOptions.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiSDK.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiSessionTracker.h"
#include "dozidi-cocoa/Sources/Dozidi/Integrations/DozidiCrashWrapper.h"
#include "dozidi-cocoa/Sources/Dozidi/OutOfMemory/DozidiOutOfMemoryLogic.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiEvent.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiSession.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiNSNotificationCenterWrapper.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiFileManager.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiSerialization.h"
#include "platform/foundation/JSONSerialization.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/tests/TemporaryDeviceRoot.h"
#include "testing/Gzip.h"
#include "testing/IngestionServer.h"
#include "testing/ScopedManualClock.h"

namespace {

using namespace std::chrono_literals;
using foundation::Value;

std::string gunzip(const std::string& bytes) { return testing_support::gunzip(bytes).value_or(""); }

void post(const char* name) { foundation::NotificationCenter::defaultCenter().post(name); }
void becomeActive() { post(DozidiNSNotificationCenterWrapper::didBecomeActiveNotificationName()); }
void resignActive() { post(DozidiNSNotificationCenterWrapper::willResignActiveNotificationName()); }
void terminate() { post(DozidiNSNotificationCenterWrapper::willTerminateNotificationName()); }

class ReporterSessionTrackerTests : public foundation::test_support::TemporaryDeviceRoot {
 protected:
  void TearDown() override {
    DozidiSDK::close();
    TemporaryDeviceRoot::TearDown();
  }

  void start() {
    DozidiSDK::startWithConfigureOptions([&](DozidiOptions& options) {
      options.setDsn(server.dsn("0123456789abcdef0123456789abcdef", "/42"));
      options.releaseName = "com.morvit.Fendrel@1.0+7";
      options.setIntegrations({"DozidiAutoSessionTrackingIntegration"});
    });
    ASSERT_TRUE(DozidiSDK::currentHub()->hasIntegration("DozidiAutoSessionTrackingIntegration"));
  }
  double now() const { return foundation::Date::now().timeIntervalSince1970(); }

  /// Each session update sent so far: "<n> <status>[ <end>]", n numbering sessions in order of
  /// first appearance and <end> the end time in seconds after the test's start.
  std::vector<std::string> sessions() {
    // The transport pauses between uploads on the process clock: move it on until the flush is over.
    std::atomic<bool> flushed = false;
    std::thread advancing([&] {
      while (!flushed) {
        clock->advance(0.1);
        std::this_thread::sleep_for(1ms);
      }
    });
    DozidiSDK::flush(600);
    flushed = true;
    advancing.join();
    std::vector<std::string> seen;
    std::vector<std::string> result;
    for (const auto& request : server.requests()) {
      auto envelope = DozidiSerialization::envelopeWithData(gunzip(request.body));
      if (!envelope) continue;
      for (const auto& item : envelope->items()) {
        if (item->header().type != "session") continue;
        auto json = foundation::JSONSerialization::JSONObjectWithData(item->data().view());
        auto session = DozidiSession::initWithJSONObject(*json->dictionary());
        const auto id = session->sessionId().uuidString();
        auto at = std::find(seen.begin(), seen.end(), id);
        if (at == seen.end()) at = seen.insert(seen.end(), id);
        std::string text = std::to_string(at - seen.begin() + 1) + " " + *(*json)["status"].string();
        if (auto ended = session->timestamp(); ended && session->status() != DozidiSessionStatus::Ok) {
          text += " " + std::to_string(static_cast<int>(ended->timeIntervalSince1970() - startedAt_ + 0.5));
        }
        result.push_back(text);
      }
    }
    return result;
  }

  testing_support::ScopedManualClock clock;
  double startedAt_ = foundation::Date::now().timeIntervalSince1970();
  testing_support::IngestionServer server;
};

TEST_F(ReporterSessionTrackerTests, ShortAbsencesContinueTheSessionLongOnesRollItOver) {
  start();
  becomeActive();
  post(DozidiSessionTracker::kHybridSdkDidBecomeActive);  // a second activation starts nothing
  clock->advance(10);
  resignActive();
  clock->advance(29.999);
  becomeActive();  // away just under the interval: the same session
  clock->advance(5);
  resignActive();  // at 45
  clock->advance(30);
  becomeActive();  // away exactly the interval: ended where the app left, a new one starts
  clock->advance(20);
  resignActive();  // at 95
  clock->advance(100);
  terminate();  // ends at the time the app left, not now
  EXPECT_EQ(sessions(), (std::vector<std::string>{"1 ok", "1 exited 45", "2 ok", "2 exited 95"}));
}

TEST_F(ReporterSessionTrackerTests, TheNextRunClosesTheSessionTheLastOneLeft) {
  start();
  becomeActive();
  clock->advance(12);
  resignActive();  // the run ends in the background at 12
  auto fileManager = DozidiSDK::currentHub()->getClient()->fileManager();
  EXPECT_TRUE(fileManager->readTimestampLastInForeground());
  EXPECT_EQ(sessions(), (std::vector<std::string>{"1 ok"}));
  DozidiSDK::close();

  clock->advance(50);
  start();  // closes the stored session as exited where the app left
  EXPECT_FALSE(fileManager->readTimestampLastInForeground());
  EXPECT_FALSE(fileManager->readCurrentSession());
  EXPECT_EQ(sessions(), (std::vector<std::string>{"1 ok", "1 exited 12"}));
}

class Crashed final : public DozidiCrashWrapper {
 public:
  bool crashedLastLaunch() override { return true; }
  double activeDurationSinceLastCrash() override { return 4; }
};

TEST_F(ReporterSessionTrackerTests, ASessionLeftByACrashIsSentAsCrashedWithTheCrashEvent) {
  start();
  becomeActive();
  clock->advance(10);
  auto fileManager = DozidiSDK::currentHub()->getClient()->fileManager();
  // Without a crash the handler leaves the open session alone.
  DozidiSessionCrashedHandler(std::make_shared<DozidiCrashWrapper>(), std::make_shared<DozidiOutOfMemoryLogic>(nullptr, nullptr, nullptr))
      .endCurrentSessionAsCrashedWhenCrashOrOOM();
  EXPECT_FALSE(fileManager->readCrashedSession());

  DozidiSessionCrashedHandler(std::make_shared<Crashed>(), nullptr).endCurrentSessionAsCrashedWhenCrashOrOOM();
  EXPECT_FALSE(fileManager->readCurrentSession());
  ASSERT_TRUE(fileManager->readCrashedSession());
  DozidiSDK::captureCrashEvent(DozidiEvent::initWithLevel(DozidiEventLevel::Fatal));
  EXPECT_FALSE(fileManager->readCrashedSession());
  EXPECT_EQ(sessions(), (std::vector<std::string>{"1 ok", "1 crashed 6"}));
}

}  // namespace
