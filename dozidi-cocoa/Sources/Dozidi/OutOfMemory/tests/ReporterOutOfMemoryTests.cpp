// The out-of-memory decision over the previous run's app state, the breadcrumb files kept during
// a run, and the fatal event made from them at the next launch.
#include <gtest/gtest.h>

#include <functional>

#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiOptions.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiSDK.h"
#include "dozidi-cocoa/Sources/Dozidi/Integrations/DozidiAppState.h"
#include "dozidi-cocoa/Sources/Dozidi/Integrations/DozidiAppStateManager.h"
#include "dozidi-cocoa/Sources/Dozidi/Integrations/DozidiCrashWrapper.h"
#include "dozidi-cocoa/Sources/Dozidi/OutOfMemory/DozidiOutOfMemoryLogic.h"
#include "dozidi-cocoa/Sources/Dozidi/OutOfMemory/DozidiOutOfMemoryScopeObserver.h"
#include "dozidi-cocoa/Sources/Dozidi/OutOfMemory/DozidiOutOfMemoryTracker.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiEvent.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiException.h"
#include "dozidi-cocoa/Sources/Dozidi/Scope/DozidiBreadcrumb.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiDispatchQueueWrapper.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiFoundationHelpers.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiNSNotificationCenterWrapper.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiSysctl.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiFileManager.h"
#include "dozidi-cocoa/Sources/Dozidi/tests/DebugLogDeviceRoot.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/JSONSerialization.h"
#include "testing/ProgramRun.h"

namespace {

using foundation::Date;

class RunAtOnce final : public DozidiDispatchQueueWrapper {
 public:
  RunAtOnce() : DozidiDispatchQueueWrapper("run-at-once") {}
  void dispatchAsyncWithBlock(std::function<void()> block) override { block(); }
};

struct FixedBoot : DozidiSysctl {
  Date systemBootTimestamp() const override { return Date::fromTimeIntervalSince1970(1'700'000'000); }
};

class LastRun final : public DozidiCrashWrapper {
 public:
  bool crashedLastLaunch() override { return crashed; }
  bool isSimulatorBuild() override { return simulator; }
  bool isBeingTraced() override { return false; }
  bool crashed = false, simulator = false;
};

class ReporterOutOfMemoryTests : public DebugLogDeviceRoot {
 public:
  void SetUp() override {
    DebugLogDeviceRoot::SetUp();
    options_ = DozidiOptions::create();
    options_->setDsn(std::string("http://0123456789abcdef0123456789abcdef@127.0.0.1:9/42"));
    options_->maxBreadcrumbs = 3;
    foundation::Error error("", 0);
    fileManager_ = DozidiFileManager::initWithOptions(*options_, nullptr, std::make_shared<RunAtOnce>(), &error);
    ASSERT_TRUE(fileManager_);
    manager_ = std::make_shared<DozidiAppStateManager>("app@2.0", crash_, fileManager_, std::make_shared<FixedBoot>(),
                                                       std::make_shared<RunAtOnce>(),
                                                       DozidiNSNotificationCenterWrapper::create());
    DozidiSDK::setStartInvocations(1);
  }
  void TearDown() override {
    DozidiSDK::setStartInvocations(0);
    DebugLogDeviceRoot::TearDown();
  }

  /// Stores `state` as the previous run's app state.
  void storePrevious(const DozidiAppState& state) {
    fileManager_->storeAppState(state);
    fileManager_->moveAppStateToPreviousAppState();
  }

  std::shared_ptr<DozidiOptions> options_;
  std::shared_ptr<LastRun> crash_ = std::make_shared<LastRun>();
  std::shared_ptr<DozidiFileManager> fileManager_;
  std::shared_ptr<DozidiAppStateManager> manager_;
};

TEST_F(ReporterOutOfMemoryTests, OnlyAForegroundRunEndedWithoutAnyOtherCauseIsTakenForOne) {
  using Change = std::function<void(DozidiAppState&, ReporterOutOfMemoryTests&)>;
  const auto same = [](const DozidiAppState& s, std::string release, std::string os, std::string vendor, bool debugging) {
    DozidiAppState copy(std::move(release), std::move(os), std::move(vendor), debugging, s.systemBootTimestamp());
    copy.setIsActive(s.isActive());
    return copy;
  };
  const struct {
    const char* name;
    Change change;
    bool oom;
  } cases[] = {
      {"killed in the foreground", [](DozidiAppState&, auto&) {}, true},
      {"tracking disabled", [](DozidiAppState&, auto& t) { t.options_->enableOutOfMemoryTracking = false; }, false},
      {"simulator", [](DozidiAppState&, auto& t) { t.crash_->simulator = true; }, false},
      {"app updated", [&](DozidiAppState& s, auto&) { s = same(s, "app@1.0", s.osVersion(), s.vendorId(), false); }, false},
      {"system updated", [&](DozidiAppState& s, auto&) { s = same(s, s.releaseName(), "0.1", s.vendorId(), false); }, false},
      {"other vendor", [&](DozidiAppState& s, auto&) { s = same(s, s.releaseName(), s.osVersion(), "OTHER", false); }, false},
      {"was debugged", [&](DozidiAppState& s, auto&) { s = same(s, s.releaseName(), s.osVersion(), s.vendorId(), true); }, false},
      {"terminated", [](DozidiAppState& s, auto&) { s.setWasTerminated(true); }, false},
      {"crashed", [](DozidiAppState&, auto& t) { t.crash_->crashed = true; }, false},
      {"in the background", [](DozidiAppState& s, auto&) { s.setIsActive(false); }, false},
      {"during a hang", [](DozidiAppState& s, auto&) { s.setIsANROngoing(true); }, false},
      {"second start", [](DozidiAppState&, auto&) { DozidiSDK::setStartInvocations(2); }, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    *crash_ = LastRun();
    options_->enableOutOfMemoryTracking = true;
    DozidiSDK::setStartInvocations(1);
    auto previous = manager_->buildCurrentAppState();
    previous->setIsActive(true);
    c.change(*previous, *this);
    storePrevious(*previous);
    EXPECT_EQ(DozidiOutOfMemoryLogic(options_, crash_, manager_).isOOM(), c.oom);
  }
  // No previous run at all.
  fileManager_->deleteAppState();
  fileManager_->moveAppStateToPreviousAppState();
  EXPECT_FALSE(DozidiOutOfMemoryLogic(options_, crash_, manager_).isOOM());
}

std::vector<std::string> messages(const std::vector<std::string>& lines) {
  std::vector<std::string> found;
  for (const auto& line : lines) {
    if (line.empty()) continue;
    auto crumb = foundation::JSONSerialization::JSONObjectWithData(line);
    found.push_back(crumb.ok() ? (*crumb)["message"].asString().value_or("?") : "bad");
  }
  return found;
}

std::vector<std::string> linesOf(const std::string& path) {
  std::vector<std::string> lines;
  std::string text = testing_support::readText(path);
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = text.find('\n', start);
    lines.push_back(text.substr(start, end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return lines;
}

TEST_F(ReporterOutOfMemoryTests, BreadcrumbFilesRotateAndTheEventKeepsTheNewest) {
  auto observer = std::make_shared<DozidiOutOfMemoryScopeObserver>(3, fileManager_);
  std::shared_ptr<DozidiBreadcrumb> last;
  for (int i = 1; i <= 7; ++i) {
    last = DozidiBreadcrumb::initWithLevel(DozidiEventLevel::Info, "test");
    last->message = std::to_string(i);
    last->timestamp = Date::fromTimeIntervalSince1970(1'700'000'000 + i + 0.25);
    observer->addSerializedBreadcrumb(last->serialize());
  }
  EXPECT_EQ(messages(linesOf(fileManager_->breadcrumbsFilePathOne())), (std::vector<std::string>{"7"}));
  EXPECT_EQ(messages(linesOf(fileManager_->breadcrumbsFilePathTwo())), (std::vector<std::string>{"4", "5", "6"}));

  // The next launch: the files become the previous run's, the event gets the last three.
  fileManager_->moveBreadcrumbsToPreviousBreadcrumbs();
  DozidiOutOfMemoryTracker tracker(options_, nullptr, manager_, std::make_shared<RunAtOnce>(), fileManager_);
  auto event = tracker.outOfMemoryEvent();
  EXPECT_EQ(event->level, DozidiEventLevel::Fatal);
  ASSERT_TRUE(event->serializedBreadcrumbs);
  std::vector<std::string> kept;
  for (const auto& crumb : *event->serializedBreadcrumbs) kept.push_back(crumb["message"].asString().value_or(""));
  EXPECT_EQ(kept, (std::vector<std::string>{"5", "6", "7"}));
  ASSERT_TRUE(event->timestamp);
  EXPECT_DOUBLE_EQ(event->timestamp->timeIntervalSince1970(), 1'700'000'007.25);
  ASSERT_TRUE(event->exceptions && event->exceptions->size() == 1);
  const auto& exception = *event->exceptions->front();
  EXPECT_EQ(exception.type, "OutOfMemory");
  EXPECT_EQ(exception.value, "The OS most likely terminated your app because it overused RAM.");
  EXPECT_EQ(exception.mechanism->type, "out_of_memory");
  EXPECT_EQ(exception.mechanism->handled, false);
  EXPECT_FALSE(event->threads);
}

TEST_F(ReporterOutOfMemoryTests, ClearingTheScopeEmptiesBothFiles) {
  DozidiOutOfMemoryScopeObserver observer(3, fileManager_);
  auto crumb = DozidiBreadcrumb::initWithLevel(DozidiEventLevel::Info, "test");
  for (int i = 0; i < 4; ++i) observer.addSerializedBreadcrumb(crumb->serialize());
  observer.clear();
  EXPECT_TRUE(linesOf(fileManager_->breadcrumbsFilePathOne()).empty());
  EXPECT_TRUE(linesOf(fileManager_->breadcrumbsFilePathTwo()).empty());
  // Writing goes on in file one.
  observer.addSerializedBreadcrumb(crumb->serialize());
  EXPECT_EQ(linesOf(fileManager_->breadcrumbsFilePathOne()).size(), 1u);
}

TEST_F(ReporterOutOfMemoryTests, PreviousRunWithoutBreadcrumbsKeepsTheEventsOwnTime) {
  fileManager_->moveBreadcrumbsToPreviousBreadcrumbs();
  DozidiOutOfMemoryTracker tracker(options_, nullptr, manager_, std::make_shared<RunAtOnce>(), fileManager_);
  auto event = tracker.outOfMemoryEvent();
  ASSERT_TRUE(event->serializedBreadcrumbs);
  EXPECT_TRUE(event->serializedBreadcrumbs->empty());
  EXPECT_TRUE(event->breadcrumbs && event->breadcrumbs->empty());
}

}  // namespace
