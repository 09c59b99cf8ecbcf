// The browser's reload of the extension, end to end: the registry, the extension host in a child
// process, the real plug-in, WebKit's compiler, and what the browser records.

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <thread>

#include "extension/tests/DeviceFixture.h"
#include "extension/ActionRequestHandler.h"
#include "platform/browser/BrowserError.h"
#include "platform/browser/ContentBlockerManager.h"
#include "platform/browser/ExtensionRegistry.h"
#include "platform/dispatch/Clock.h"

namespace quellbox::test_support {
namespace {

/// Records every call of a reload completion and the thread it came on.
struct ReloadProbe {
  std::mutex mutex;
  std::condition_variable called;
  int calls = 0;
  std::optional<foundation::Error> error;
  std::thread::id thread;

  std::function<void(std::optional<foundation::Error>)> completion() {
    return [this](std::optional<foundation::Error> e) {
      std::lock_guard lock(mutex);
      ++calls;
      error = std::move(e);
      thread = std::this_thread::get_id();
      called.notify_all();
    };
  }
  /// Waits (a bounded real time, as a watchdog) for the first call.
  bool waitForCall(std::chrono::milliseconds limit = std::chrono::seconds(60)) {
    std::unique_lock lock(mutex);
    return called.wait_for(lock, limit, [&] { return calls > 0; });
  }
};

class ContentBlockerReloadTests : public DeviceFixture {
 protected:
  void SetUp() override {
    DeviceFixture::SetUp();
    ::setenv("FENDREL_EXTENSION_HOST", FENDREL_TEST_EXTENSION_HOST, 1);
  }

  void install(Entitled entitled, WithFallback fallback) {
    installExtensionBundle(entitled, fallback);
    auto registry = browser::ExtensionRegistry::forDevice();
    ASSERT_TRUE(registry);
    ASSERT_TRUE(registry->install(kExtensionId, FENDREL_TEST_PLUGIN, bundle_));
  }

  /// One reload, waited for; the probe holds what the completion saw.
  std::optional<foundation::Error> reload(ReloadProbe& probe, const std::string& id = kExtensionId) {
    browser::ContentBlockerManager::reloadContentBlocker(id, probe.completion());
    EXPECT_TRUE(probe.waitForCall());
    std::lock_guard lock(probe.mutex);
    EXPECT_NE(probe.thread, std::this_thread::get_id());
    return probe.error;
  }

  std::string applied() const { return readText(root_ + "/browser/applied/" + std::string(kExtensionId) + ".json"); }
};

constexpr const char* kRules =
    R"([{"trigger":{"url-filter":"tracker","unless-domain":["*example.org"]},"action":{"type":"block"}},)"
    R"({"trigger":{"url-filter":".*"},"action":{"type":"css-display-none","selector":".ad"}}])";

TEST_F(ContentBlockerReloadTests, AppliesExactlyTheBytesOfTheSharedRuleFile) {
  install(Entitled::Yes, WithFallback::Yes);
  writeText(containerFile("output.json"), kRules);
  ReloadProbe probe;
  auto error = reload(probe);
  ASSERT_FALSE(error) << error->localizedDescription();
  EXPECT_EQ(applied(), kRules);
  EXPECT_NE(readText(root_ + "/browser/reload.log").find(std::string("reload ") + kExtensionId + " ok rules=2"),
            std::string::npos);

  // The completion came once: a second reload's answer arrives while the first probe stays at one.
  ReloadProbe second;
  EXPECT_FALSE(reload(second));
  std::lock_guard lock(probe.mutex);
  EXPECT_EQ(probe.calls, 1);
}

TEST_F(ContentBlockerReloadTests, AppliesTheFallbackWithoutSharedFileOrEntitlement) {
  struct Case {
    const char* name;
    Entitled entitled;
    bool writeOutput;
  };
  const Case cases[] = {{"no output.json", Entitled::Yes, false}, {"no entitlement", Entitled::No, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    install(c.entitled, WithFallback::Yes);
    std::filesystem::remove(containerFile("output.json"));
    if (c.writeOutput) writeText(containerFile("output.json"), kRules);
    ReloadProbe probe;
    auto error = reload(probe);
    ASSERT_FALSE(error) << error->localizedDescription();
    EXPECT_EQ(applied(), fallbackText());
  }
}

TEST_F(ContentBlockerReloadTests, RuleFileTheEngineRefusesFailsWithItsErrorAndKeepsTheAppliedRules) {
  install(Entitled::Yes, WithFallback::Yes);
  writeText(containerFile("output.json"), kRules);
  ReloadProbe first;
  ASSERT_FALSE(reload(first));

  writeText(containerFile("output.json"),
            R"([{"trigger":{"url-filter":"x","unless-domain":["Example.com"]},"action":{"type":"block"}}])");
  ReloadProbe probe;
  auto error = reload(probe);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->domain(), "WebKitUserContentFilterError");
  EXPECT_NE(error->localizedDescription().find("lower case"), std::string::npos);
  EXPECT_EQ(applied(), kRules);
}

TEST_F(ContentBlockerReloadTests, ReportsTheBrowsersErrors) {
  struct Case {
    const char* name;
    std::string identifier;
    WithFallback fallback;
    browser::SFErrorCode code;
  };
  const Case cases[] = {
      {"unknown identifier", "com.morvit.Other", WithFallback::Yes, browser::SFErrorCode::NoExtensionFound},
      {"extension cancels: no rule file at all", kExtensionId, WithFallback::No, browser::SFErrorCode::LoadingInterrupted},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    install(Entitled::Yes, c.fallback);
    std::filesystem::remove(containerFile("output.json"));
    ReloadProbe probe;
    auto error = reload(probe, c.identifier);
    ASSERT_TRUE(error);
    EXPECT_TRUE(error->is(browser::kSFErrorDomain, static_cast<std::int64_t>(c.code)))
        << error->domain() << " " << error->code() << " " << error->localizedDescription();
  }
}

TEST_F(ContentBlockerReloadTests, ExtensionCancellationCarriesTheExtensionsError) {
  install(Entitled::Yes, WithFallback::No);
  ReloadProbe probe;
  auto error = reload(probe);
  ASSERT_TRUE(error);
  auto cause = error->underlyingError();
  ASSERT_TRUE(cause);
  EXPECT_TRUE(cause->is(kQuellboxErrorDomain, kQuellboxNoRuleFileCode));
}

TEST_F(ContentBlockerReloadTests, InjectedFailuresFailExactlyThatManyReloads) {
  install(Entitled::Yes, WithFallback::Yes);
  writeText(root_ + "/browser/control.json", R"({"failNextReloads": 2})");
  for (int attempt = 0; attempt < 2; ++attempt) {
    SCOPED_TRACE(attempt);
    ReloadProbe probe;
    auto error = reload(probe);
    ASSERT_TRUE(error);
    EXPECT_TRUE(error->is(browser::kSFErrorDomain, static_cast<std::int64_t>(browser::SFErrorCode::LoadingInterrupted)));
  }
  ReloadProbe probe;
  EXPECT_FALSE(reload(probe));
  EXPECT_EQ(applied(), fallbackText());
}

TEST_F(ContentBlockerReloadTests, ConcurrentReloadsShareTheInjectedFailures) {
  install(Entitled::Yes, WithFallback::Yes);
  writeText(root_ + "/browser/control.json", R"({"failNextReloads": 3})");
  ReloadProbe probes[6];
  for (auto& probe : probes) browser::ContentBlockerManager::reloadContentBlocker(kExtensionId, probe.completion());
  int failed = 0;
  for (auto& probe : probes) {
    ASSERT_TRUE(probe.waitForCall());
    std::lock_guard lock(probe.mutex);
    failed += probe.error ? 1 : 0;
  }
  EXPECT_EQ(failed, 3);
}

TEST_F(ContentBlockerReloadTests, DelayedAnswerWaitsForTheClock) {
  install(Entitled::Yes, WithFallback::Yes);
  auto clock = dispatch::ManualClock::create();
  dispatch::Clock::setCurrent(clock);
  writeText(root_ + "/browser/control.json", R"({"delaySeconds": 30})");
  ReloadProbe probe;
  browser::ContentBlockerManager::reloadContentBlocker(kExtensionId, probe.completion());
  // A short real wait shows the answer is held back; the delay itself passes on the manual clock.
  EXPECT_FALSE(probe.waitForCall(std::chrono::milliseconds(200)));
  clock->advance(30);
  EXPECT_TRUE(probe.waitForCall());
  dispatch::Clock::setCurrent(nullptr);
  std::lock_guard lock(probe.mutex);
  EXPECT_FALSE(probe.error);
}

TEST_F(ContentBlockerReloadTests, NeverAnswerLeavesTheCompletionUncalled) {
  install(Entitled::Yes, WithFallback::Yes);
  writeText(root_ + "/browser/control.json", R"({"neverAnswer": true})");
  ReloadProbe probe;
  browser::ContentBlockerManager::reloadContentBlocker(kExtensionId, probe.completion());
  // The browser logs the request it leaves unanswered; wait (bounded) for that line.
  const std::string log = root_ + "/browser/reload.log";
  for (int i = 0; i < 3000 && readText(log).find("left unanswered") == std::string::npos; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_NE(readText(log).find("left unanswered"), std::string::npos);
  EXPECT_FALSE(probe.waitForCall(std::chrono::milliseconds(100)));
}

TEST_F(ContentBlockerReloadTests, StateFollowsTheUsersChoice) {
  install(Entitled::Yes, WithFallback::Yes);
  auto state = [](const std::string& id) {
    std::mutex mutex;
    std::condition_variable done;
    std::optional<std::pair<std::optional<bool>, std::optional<foundation::Error>>> answer;
    std::thread::id thread;
    browser::ContentBlockerManager::getStateOfContentBlocker(
        id, [&](std::optional<bool> enabled, std::optional<foundation::Error> error) {
          std::lock_guard lock(mutex);
          answer.emplace(enabled, std::move(error));
          thread = std::this_thread::get_id();
          done.notify_all();
        });
    std::unique_lock lock(mutex);
    EXPECT_TRUE(done.wait_for(lock, std::chrono::seconds(30), [&] { return answer.has_value(); }));
    EXPECT_NE(thread, std::this_thread::get_id());
    return *answer;
  };
  EXPECT_EQ(state(kExtensionId).first, std::optional<bool>(false));
  ASSERT_TRUE(browser::ExtensionRegistry::forDevice()->setEnabled(kExtensionId, true));
  EXPECT_EQ(state(kExtensionId).first, std::optional<bool>(true));
  auto unknown = state("com.morvit.Other");
  EXPECT_FALSE(unknown.first);
  ASSERT_TRUE(unknown.second);
  EXPECT_TRUE(unknown.second->is(browser::kSFErrorDomain, 1));
}

}  // namespace
}  // namespace quellbox::test_support
