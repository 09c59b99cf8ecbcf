// The compile service against the real browser stand-in: the extension host runs the real plug-in
// and WebKit compiles the rule file. Faults come from browser/control.json; time from the manual
// clock.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "app/core/ListElement.h"
#include "app/core/SharedAux.h"
#include "app/core/Singleton.h"
#include "app/core/tests/CoreDoubles.h"
#include "app/core/tests/CoreTestSupport.h"
#include "platform/browser/ExtensionRegistry.h"
#include "platform/foundation/DeviceRoot.h"
#include "platform/foundation/JSONSerialization.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/OperationQueue.h"
#include "platform/foundation/UserDefaults.h"
#include "testing/ProgramRun.h"

namespace fendrel {
namespace {

namespace fs = std::filesystem;

std::string readText(const fs::path& path) { return testing_support::readText(path.string()); }

void writeText(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

/// Records the busy notifications in the order the main queue posts them.
class BusyRecorder {
 public:
  BusyRecorder() {
    for (const char* name : {"busyOn", "busyOff"}) {
      tokens_.push_back(foundation::NotificationCenter::defaultCenter().addObserver(
          name, nullptr, [this](const foundation::Notification& n) {
            std::lock_guard lock(mutex_);
            seen_.push_back(n.name);
          }));
    }
  }
  ~BusyRecorder() {
    for (auto token : tokens_) foundation::NotificationCenter::defaultCenter().removeObserver(token);
  }
  std::vector<std::string> seen() const {
    std::lock_guard lock(mutex_);
    return seen_;
  }
  bool endsWithOff() const {
    std::lock_guard lock(mutex_);
    return !seen_.empty() && seen_.back() == "busyOff";
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> seen_;
  std::vector<foundation::NotificationCenter::ObserverToken> tokens_;
};

/// Records each event with its parameters.
class EventRecorder final : public tovel::AnalyticsTracker {
 public:
  struct Event {
    std::string name;
    tovel::AnalyticsParameters params;
  };
  std::string identifier() override { return "test-device"; }
  bool enabled() const override { return true; }
  void setEnabled(bool) override {}
  void log(std::string_view event, const tovel::AnalyticsParameters& params, tovel::Once) override {
    std::lock_guard lock(mutex_);
    events_.push_back({std::string(event), params});
  }
  void logError(std::string_view event, std::string_view, const tovel::AnalyticsParameters& params,
                std::string_view, std::uint64_t) override {
    log(event, params, tovel::Once::No);
  }
  void logPurchase(bool, std::string_view, std::string_view, foundation::Number, const tovel::AnalyticsParameters&,
                   std::optional<std::string>) override {}
  void logInvite(std::string_view, const tovel::AnalyticsParameters&) override {}

  std::vector<Event> events() const {
    std::lock_guard lock(mutex_);
    return events_;
  }
  std::size_t count(const std::string& name) const {
    std::size_t n = 0;
    for (const auto& e : events()) n += e.name == name ? 1 : 0;
    return n;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<Event> events_;
};

class SharedAuxTests : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("FENDREL_EXTENSION_HOST", FENDREL_TEST_EXTENSION_HOST, 1);
    Singleton::shared().setAnalytics(events_);
    installExtension();
    // One cached list, enabled, in the catalogue.
    auto obj = *CloudObject::make(CloudObject::Kind::List,
                                  test_support::listDictionary("l1", "http://127.0.0.1:9/l1.json"), std::nullopt);
    writeText(root_.cachesPath() + "/1600000000l1.json", kRules);
    Singleton::shared().setLists({ListElement::make(obj)});
    ASSERT_TRUE(SharedAux::shared().enableList(obj));
  }
  void TearDown() override {
    // Nothing may still run against this device root when it goes.
    ASSERT_TRUE(test_support::pumpUntil([] { return SharedAux::shared().compileQueue()->operationCount() == 0; }));
    SharedAux::shared().reset();
    // Busy notifications still queued belong to this test, not the next.
    dispatch::drainMainQueue();
  }

  void installExtension() {
    const std::string resources = std::string(FENDREL_TEST_RESOURCES) + "/Quellbox.appex";
    auto info = foundation::JSONSerialization::JSONObjectWithData(readText(resources + "/Info.json"));
    ASSERT_TRUE(info && info->dictionary());
    auto bundle = foundation::DeviceRoot::installBundle("Quellbox.appex", *info->dictionary(),
                                                        {resources + "/fallback.json"});
    ASSERT_TRUE(bundle);
    auto registry = browser::ExtensionRegistry::forDevice();
    ASSERT_TRUE(registry);
    ASSERT_TRUE(registry->install(SharedAux::kExtensionIdentifier, FENDREL_TEST_PLUGIN, *bundle));
  }

  void queue(Recompilation recompilation) {
    SharedAux::shared().compileQueue()->addOperationWithBlock(
        [recompilation] { SharedAux::shared().recompileSafari(recompilation); });
  }
  bool pumpUntil(const std::function<bool()>& done) { return test_support::pumpUntil(done); }
  bool idle() const { return SharedAux::shared().compileQueue()->operationCount() == 0; }
  std::string browserFile(const std::string& name) const { return root_.path() + "/browser/" + name; }
  std::string outputPath() const { return root_.path() + "/containers/group.com.morvit.Fendrel/output.json"; }
  int successfulReloads() const {
    std::istringstream log(readText(browserFile("reload.log")));
    int ok = 0;
    for (std::string line; std::getline(log, line);) ok += line.find(" ok") != std::string::npos ? 1 : 0;
    return ok;
  }
  std::string applied() const { return readText(browserFile("applied/com.morvit.Fendrel.Quellbox.json")); }

  static constexpr const char* kRules =
      R"([{"trigger":{"url-filter":"tracker"},"action":{"type":"block"}},)"
      R"({"trigger":{"url-filter":"frame","if-frame-url":["https://a.org"]},"action":{"type":"block"}},)"
      R"({"trigger":{"url-filter":".*"},"action":{"type":"css-display-none","selector":".ad"}}])";

  test_support::ScopedManualClock clock_;
  test_support::ScopedDeviceRoot root_;
  test_support::ScopedAppState state_;
  std::shared_ptr<EventRecorder> events_ = std::make_shared<EventRecorder>();
  BusyRecorder busy_;
};

TEST_F(SharedAuxTests, UnforcedRequestForTheCompiledSetIsSkippedAndOnlyTheLastEndsTheBusyState) {
  ASSERT_TRUE(Singleton::shared().addWhitelistElement("Example.org", true));
  queue(Recompilation::IfChanged);
  queue(Recompilation::IfChanged);
  ASSERT_TRUE(pumpUntil([&] { return idle() && busy_.endsWithOff(); }));
  EXPECT_EQ(busy_.seen(), (std::vector<std::string>{"busyOn", "busyOff"}));
  EXPECT_EQ(SharedAux::shared().lastSuccessfulCompilation(), (std::set<std::string>{"l1"}));
  EXPECT_EQ(Singleton::shared().whitelistCompiledDate(), Singleton::shared().whitelistDate());
  // The browser took exactly the compiled file, whitelist lower-cased.
  EXPECT_EQ(applied(), readText(outputPath()));
  EXPECT_NE(applied().find(R"({"trigger":{"url-filter":".*","if-domain":["example.org"]},)"
                           R"("action":{"type":"ignore-previous-rules"}}])"),
            std::string::npos);
  EXPECT_TRUE(events_->events().empty());

  // A forced request compiles the same set again; so does a whitelist change.
  queue(Recompilation::Always);
  ASSERT_TRUE(pumpUntil([&] { return idle() && busy_.seen().size() == 4; }));
  clock_->advance(1);
  ASSERT_TRUE(Singleton::shared().addWhitelistElement("b.org", true));
  SharedAux::shared().recompileIfWhitelistChanged();
  ASSERT_TRUE(pumpUntil([&] { return idle() && busy_.seen().size() == 6; }));
  EXPECT_EQ(Singleton::shared().whitelistCompiledDate(), Singleton::shared().whitelistDate());
  SharedAux::shared().recompileIfWhitelistChanged();
  EXPECT_EQ(SharedAux::shared().compileQueue()->operationCount(), 0u);
}

TEST_F(SharedAuxTests, EnabledSetStoredWithoutItsCompilationIsCompiledByTheNextCheck) {
  auto defaults = Singleton::shared().userDefs();
  // Nothing compiled yet: the enabled set differs from the (empty) compiled one.
  SharedAux::shared().recompileIfEnabledSetChanged();
  ASSERT_TRUE(pumpUntil([&] { return idle() && busy_.endsWithOff(); }));
  EXPECT_EQ(defaults->array("extConfigCompiledIDs"), (foundation::Array{"l1"}));
  SharedAux::shared().recompileIfEnabledSetChanged();
  EXPECT_EQ(SharedAux::shared().compileQueue()->operationCount(), 0u);

  // A run stored a second list and ended before compiling it; two checks compile it once.
  ASSERT_TRUE(defaults->set("extConfigIDs", foundation::Array{"l1", "l2"}));
  SharedAux::shared().recompileIfEnabledSetChanged();
  SharedAux::shared().recompileIfEnabledSetChanged();
  ASSERT_TRUE(pumpUntil([&] { return idle() && busy_.seen().size() == 4; }));
  EXPECT_EQ(successfulReloads(), 2);
  EXPECT_EQ(defaults->array("extConfigCompiledIDs"), (foundation::Array{"l1", "l2"}));
  SharedAux::shared().recompileIfEnabledSetChanged();
  EXPECT_EQ(SharedAux::shared().compileQueue()->operationCount(), 0u);
}

TEST_F(SharedAuxTests, FailedReloadsAreRetriedTwiceOnTheClockThenTheBusyStateEnds) {
  writeText(browserFile("control.json"), R"({"failNextReloads": 5})");
  queue(Recompilation::IfChanged);
  ASSERT_TRUE(pumpUntil([&] { return events_->count("errRecompileSafari") == 1; }));
  clock_->advance(SharedAux::kRetryDelays[0]);
  ASSERT_TRUE(pumpUntil([&] { return events_->count("errRecompileSafari") == 2; }));
  clock_->advance(SharedAux::kRetryDelays[1]);
  ASSERT_TRUE(pumpUntil([&] { return events_->count("errRecompileSafari") == 3 && idle() && busy_.endsWithOff(); }));
  EXPECT_EQ(busy_.seen(), (std::vector<std::string>{"busyOn", "busyOn", "busyOn", "busyOff"}));
  EXPECT_FALSE(SharedAux::shared().lastSuccessfulCompilation());

  auto event = events_->events().front();
  EXPECT_EQ(event.params["config"], foundation::Value("List l1"));
  ASSERT_NE(event.params["error"].error(), nullptr);
  EXPECT_EQ(event.params["error"].error()->domain(), "SFErrorDomain");

  // No fourth attempt, however long one waits.
  clock_->advance(3600);
  EXPECT_TRUE(idle());
  EXPECT_EQ(events_->count("errRecompileSafari"), 3u);

  // A later request starts afresh and records its set on success.
  writeText(browserFile("control.json"), R"({"failNextReloads": 1})");
  queue(Recompilation::IfChanged);
  ASSERT_TRUE(pumpUntil([&] { return events_->count("errRecompileSafari") == 4; }));
  clock_->advance(SharedAux::kRetryDelays[0]);
  ASSERT_TRUE(pumpUntil([&] { return idle() && SharedAux::shared().lastSuccessfulCompilation(); }));
}

TEST_F(SharedAuxTests, UnansweredReloadTimesOutAndALateAnswerIsIgnored) {
  writeText(browserFile("control.json"), R"({"delaySeconds": 150})");
  queue(Recompilation::IfChanged);
  // Both the browser's delay and the service's wait for it are waiting on the clock.
  ASSERT_TRUE(pumpUntil([&] { return clock_->waiterCount() >= 2; }));
  fs::remove(browserFile("control.json"));
  clock_->advance(SharedAux::kReloadTimeout);
  ASSERT_TRUE(pumpUntil([&] { return events_->count("errRecompileSafari") == 1; }));
  clock_->advance(SharedAux::kRetryDelays[0]);
  ASSERT_TRUE(pumpUntil([&] { return idle() && busy_.endsWithOff(); }));
  EXPECT_EQ(SharedAux::shared().lastSuccessfulCompilation(), (std::set<std::string>{"l1"}));

  // The first reload answers now, long after its time-out: nothing more happens.
  clock_->advance(60);
  ASSERT_TRUE(pumpUntil([&] { return successfulReloads() == 2; }));
  dispatch::drainMainQueue();
  EXPECT_EQ(busy_.seen(), (std::vector<std::string>{"busyOn", "busyOn", "busyOff"}));
  EXPECT_EQ(events_->count("errRecompileSafari"), 1u);
}

TEST_F(SharedAuxTests, CompilerFailureIsReportedWithoutReloadOrRecord) {
  // output.json cannot be replaced: the compiler's failure, not a success.
  fs::create_directories(outputPath());
  queue(Recompilation::IfChanged);
  ASSERT_TRUE(pumpUntil([&] { return idle() && busy_.endsWithOff(); }));
  ASSERT_EQ(events_->count("errJoinJsons"), 1u);
  auto error = events_->events().front().params["error"].error();
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(error->domain(), "NSCocoaErrorDomain");
  // The event names the file, never where the device keeps it.
  EXPECT_NE(error->localizedDescription().find("output.json"), std::string::npos);
  EXPECT_EQ(error->localizedDescription().find(root_.path()), std::string::npos) << error->localizedDescription();
  EXPECT_EQ(error->localizedDescription().find("/containers/"), std::string::npos) << error->localizedDescription();
  EXPECT_TRUE(error->userInfo()[foundation::kFilePathErrorKey].isAbsent());
  EXPECT_TRUE(error->userInfo()[foundation::kUnderlyingErrorKey].isAbsent());
  EXPECT_EQ(events_->events().front().params["config"], foundation::Value("List l1"));
  EXPECT_EQ(busy_.seen(), (std::vector<std::string>{"busyOn", "busyOff"}));
  EXPECT_FALSE(fs::exists(browserFile("reload.log")));
  EXPECT_FALSE(SharedAux::shared().lastSuccessfulCompilation());
}

TEST(SharedAuxErrorTests, NoContainerIsCantFormOutputUrl) {
  test_support::ScopedDeviceRoot root(false);
  test_support::ScopedAppState state;
  auto result = SharedAux::shared().joinJsons({});
  ASSERT_FALSE(result);
  EXPECT_TRUE(result.error().is("Fendrel.SharedAux.Error", 0));
}

TEST_F(SharedAuxTests, DisablingTheLastListStoresEmptyArrays) {
  auto obj = Singleton::shared().lists()->front()->obj();
  ASSERT_TRUE(SharedAux::shared().disableList(obj));
  auto defaults = Singleton::shared().userDefs();
  EXPECT_EQ(defaults->array("extConfigIDs"), foundation::Array{});
  EXPECT_EQ(defaults->array("extConfigListNames"), foundation::Array{});
  EXPECT_EQ(SharedAux::shared().listName("l1"), "List l1");
  EXPECT_EQ(SharedAux::shared().listName("gone"), "");
}


TEST_F(SharedAuxTests, CompilationObserverHearsEveryAttemptAfterTheServiceActedOnIt) {
  struct Heard {
    CompilationOutcome outcome;
    bool recorded;  // the enabled set was already recorded when the observer ran
  };
  auto mutex = std::make_shared<std::mutex>();
  auto heard = std::make_shared<std::vector<Heard>>();
  SharedAux::shared().setCompilationObserver([mutex, heard](const CompilationOutcome& outcome) {
    const bool recorded = SharedAux::shared().lastSuccessfulCompilation().has_value();
    std::lock_guard lock(*mutex);
    heard->push_back({outcome, recorded});
  });
  auto heardCount = [&] {
    std::lock_guard lock(*mutex);
    return heard->size();
  };

  // The compiler fails: one outcome, no reload.
  fs::create_directories(outputPath());
  queue(Recompilation::IfChanged);
  ASSERT_TRUE(pumpUntil([&] { return idle() && busy_.endsWithOff(); }));
  ASSERT_EQ(heardCount(), 1u);
  fs::remove(outputPath());

  // The browser fails once, the retry succeeds; a skipped request after it compiles nothing.
  writeText(browserFile("control.json"), R"({"failNextReloads": 1})");
  queue(Recompilation::Always);
  ASSERT_TRUE(pumpUntil([&] { return heardCount() == 2; }));
  clock_->advance(SharedAux::kRetryDelays[0]);
  ASSERT_TRUE(pumpUntil([&] { return idle() && heardCount() == 3; }));
  queue(Recompilation::IfChanged);
  ASSERT_TRUE(pumpUntil([&] { return idle(); }));
  SharedAux::shared().setCompilationObserver(nullptr);
  queue(Recompilation::Always);
  ASSERT_TRUE(pumpUntil([&] { return idle() && busy_.endsWithOff(); }));

  std::lock_guard lock(*mutex);
  ASSERT_EQ(heard->size(), 3u);
  const CompilationOutcome& join = (*heard)[0].outcome;
  EXPECT_FALSE(join.force);
  ASSERT_TRUE(join.joinJsonsError);
  EXPECT_EQ(join.joinJsonsError->domain(), "NSCocoaErrorDomain");
  EXPECT_FALSE(join.reloadError);
  EXPECT_FALSE(join.retryScheduled);

  const CompilationOutcome& failed = (*heard)[1].outcome;
  EXPECT_TRUE(failed.force);
  EXPECT_EQ(failed.attempt, 0);
  EXPECT_FALSE(failed.joinJsonsError);
  ASSERT_TRUE(failed.reloadError);
  EXPECT_EQ(failed.reloadError->domain(), "SFErrorDomain");
  EXPECT_TRUE(failed.retryScheduled);
  EXPECT_FALSE((*heard)[1].recorded);

  const CompilationOutcome& retried = (*heard)[2].outcome;
  EXPECT_TRUE(retried.force);
  EXPECT_EQ(retried.attempt, 1);
  EXPECT_TRUE(retried.succeeded());
  EXPECT_TRUE((*heard)[2].recorded);
}

}  // namespace
}  // namespace fendrel
