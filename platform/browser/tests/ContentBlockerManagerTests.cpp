// The browser's reload and state query with a plug-in of the tests' own: the compiler process and
// its faults, its temporary folder, the rule limit and callers that give no completion.

#include "platform/browser/ContentBlockerManager.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>

#include "platform/browser/BrowserError.h"
#include "platform/browser/ExtensionRegistry.h"
#include "platform/dispatch/Clock.h"
#include "platform/foundation/DeviceRoot.h"

namespace {

constexpr const char* kId = "com.morvit.Test.Blocker";
constexpr const char* kRules = R"([{"trigger":{"url-filter":"ads"},"action":{"type":"block"}}])";

std::string readText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void writeText(const std::string& path, const std::string& text) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

/// Every regular file under `folder` with its contents.
std::map<std::string, std::string> snapshot(const std::string& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
    if (entry.is_regular_file()) files[entry.path().string()] = readText(entry.path().string());
  }
  return files;
}

bool isEmptyFolder(const std::string& folder) {
  std::error_code ignored;
  return std::filesystem::is_empty(folder, ignored);
}

/// A rule file of `count` block rules.
std::string rulesOf(std::size_t count) {
  std::string text = "[";
  for (std::size_t i = 0; i < count; ++i) {
    text += i ? "," : "";
    text += R"({"trigger":{"url-filter":"a)" + std::to_string(i) + R"("},"action":{"type":"block"}})";
  }
  return text + "]";
}

/// Records the calls of a reload completion.
struct ReloadProbe {
  std::mutex mutex;
  std::condition_variable called;
  int calls = 0;
  std::optional<foundation::Error> error;

  std::function<void(std::optional<foundation::Error>)> completion() {
    return [this](std::optional<foundation::Error> e) {
      std::lock_guard lock(mutex);
      ++calls;
      error = std::move(e);
      called.notify_all();
    };
  }
  /// Waits (a bounded real time, as a watchdog) for the first call.
  bool waitForCall() {
    std::unique_lock lock(mutex);
    return called.wait_for(lock, std::chrono::seconds(60), [&] { return calls > 0; });
  }
};

/// Polls `condition` for at most ten seconds of real time.
template <class Condition>
bool eventually(Condition condition) {
  for (int i = 0; i < 1000; ++i) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return condition();
}

class ContentBlockerManagerTests : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/fendrel-blocker-XXXXXX";
    work_ = ::mkdtemp(pattern);
    root_ = work_ + "/device";
    bundle_ = work_ + "/Blocker.appex";
    systemTemporary_ = work_ + "/system-tmp";
    std::filesystem::create_directories(bundle_);
    std::filesystem::create_directories(systemTemporary_);
    if (const char* previous = std::getenv("TMPDIR")) previousTemporary_ = previous;
    ::setenv("TMPDIR", systemTemporary_.c_str(), 1);
    ::setenv("FENDREL_EXTENSION_HOST", FENDREL_TEST_EXTENSION_HOST, 1);
    foundation::DeviceRoot::setPath(root_);
    auto registry = browser::ExtensionRegistry::forDevice();
    ASSERT_TRUE(registry);
    ASSERT_TRUE(registry->install(kId, FENDREL_TEST_PLUGIN, bundle_));
  }
  void TearDown() override {
    dispatch::Clock::setCurrent(nullptr);
    foundation::DeviceRoot::setPath("");
    if (previousTemporary_) {
      ::setenv("TMPDIR", previousTemporary_->c_str(), 1);
    } else {
      ::unsetenv("TMPDIR");
    }
    std::filesystem::remove_all(work_);
  }

  std::string browserFile(const std::string& name) const { return root_ + "/browser/" + name; }
  std::string applied() const { return readText(browserFile(std::string("applied/") + kId + ".json")); }
  void answerWith(const std::string& rules) const { writeText(bundle_ + "/rules.json", rules); }

  std::optional<foundation::Error> reload() {
    ReloadProbe probe;
    browser::ContentBlockerManager::reloadContentBlocker(kId, probe.completion());
    EXPECT_TRUE(probe.waitForCall());
    std::lock_guard lock(probe.mutex);
    return probe.error;
  }

  std::string work_, root_, bundle_, systemTemporary_;
  std::optional<std::string> previousTemporary_;
};

TEST_F(ContentBlockerManagerTests, CompilerThatCrashesOrHangsFailsTheReloadWithItsReasonAndKeepsTheRules) {
  answerWith(kRules);
  auto first = reload();
  ASSERT_FALSE(first) << first->localizedDescription();
  const auto filters = snapshot(browserFile("filters"));
  ASSERT_FALSE(filters.empty());

  struct Case {
    const char* fault;
    const char* reason;
  };
  const Case cases[] = {
      {"abort", "the browser's compiler stopped: signal 6"},
      {"hang", "the browser's compiler did not finish within 60 seconds"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    writeText(browserFile("control.json"), std::string(R"({"compilerFault": ")") + c.fault + "\"}");
    answerWith(rulesOf(2));
    auto clock = dispatch::ManualClock::create();
    dispatch::Clock::setCurrent(clock);
    ReloadProbe probe;
    browser::ContentBlockerManager::reloadContentBlocker(kId, probe.completion());
    if (std::string(c.fault) == "hang") {
      // The browser's only wait on the clock is the compiler's time limit.
      ASSERT_TRUE(eventually([&] { return clock->waiterCount() > 0; }));
      clock->advance(60);
    }
    ASSERT_TRUE(probe.waitForCall());
    dispatch::Clock::setCurrent(nullptr);

    std::lock_guard lock(probe.mutex);
    ASSERT_TRUE(probe.error);
    EXPECT_TRUE(probe.error->is(browser::kSFErrorDomain,
                                static_cast<std::int64_t>(browser::SFErrorCode::LoadingInterrupted)));
    EXPECT_NE(probe.error->localizedDescription().find(c.reason), std::string::npos)
        << probe.error->localizedDescription();
    EXPECT_EQ(snapshot(browserFile("filters")), filters);
    EXPECT_EQ(applied(), kRules);
    EXPECT_TRUE(isEmptyFolder(browserFile("tmp"))) << "the compile folder is removed";
    EXPECT_TRUE(isEmptyFolder(systemTemporary_));
  }
}

TEST_F(ContentBlockerManagerTests, CompileKeepsToItsOwnFolderAndSweepsWhatNobodyHolds) {
  // A folder a killed compile left, and one another browser is compiling in right now.
  writeText(browserFile("tmp/compile-left/ContentRuleList-abc"), "half-written");
  writeText(browserFile("tmp/compile-busy/rules.json"), kRules);
  int busy = ::open(browserFile("tmp/compile-busy").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(busy, 0);
  ASSERT_EQ(::flock(busy, LOCK_EX), 0);

  answerWith(kRules);
  auto error = reload();
  ::close(busy);
  ASSERT_FALSE(error) << error->localizedDescription();
  EXPECT_EQ(applied(), kRules);
  EXPECT_FALSE(std::filesystem::exists(browserFile("tmp/compile-left")));
  EXPECT_EQ(readText(browserFile("tmp/compile-busy/rules.json")), kRules);
  EXPECT_TRUE(isEmptyFolder(systemTemporary_)) << "WebKit's temporary files stay under the browser's folder";
}

TEST_F(ContentBlockerManagerTests, MoreRulesThanTheBrowserTakesAreRefusedBeforeWebKitIsAsked) {
  answerWith(rulesOf(3));
  ASSERT_FALSE(reload());
  const auto filters = snapshot(browserFile("filters"));

  // Any compile would now crash: the refusal shows the compiler was never started.
  writeText(browserFile("control.json"), R"({"compilerFault": "abort"})");
  answerWith(rulesOf(150001));
  auto error = reload();
  ASSERT_TRUE(error);
  EXPECT_EQ(error->domain(), "WebKitUserContentFilterError");
  EXPECT_EQ(error->code(), 0);
  EXPECT_NE(error->localizedDescription().find("Too many rules in JSON array. The rule file has 150001 rules"),
            std::string::npos)
      << error->localizedDescription();
  EXPECT_EQ(snapshot(browserFile("filters")), filters);
  EXPECT_EQ(applied(), rulesOf(3));

  // At the limit the file goes on to the compiler, which crashes as told.
  answerWith(rulesOf(150000));
  auto atTheLimit = reload();
  ASSERT_TRUE(atTheLimit);
  EXPECT_NE(atTheLimit->localizedDescription().find("the browser's compiler stopped"), std::string::npos)
      << atTheLimit->localizedDescription();
}

TEST_F(ContentBlockerManagerTests, ARuleFileTheCompilerRanOutOfTimeOnIsNotCompiledAgain) {
  writeText(browserFile("control.json"), R"({"compilerFault": "hang"})");
  answerWith(rulesOf(2));
  auto clock = dispatch::ManualClock::create();
  dispatch::Clock::setCurrent(clock);
  ReloadProbe probe;
  browser::ContentBlockerManager::reloadContentBlocker(kId, probe.completion());
  ASSERT_TRUE(eventually([&] { return clock->waiterCount() > 0; }));
  clock->advance(60);
  ASSERT_TRUE(probe.waitForCall());
  dispatch::Clock::setCurrent(nullptr);

  // Any compile would now crash: the answer shows the compiler was never started.
  writeText(browserFile("control.json"), R"({"compilerFault": "abort"})");
  auto again = reload();
  ASSERT_TRUE(again);
  EXPECT_TRUE(again->is(browser::kSFErrorDomain, static_cast<std::int64_t>(browser::SFErrorCode::LoadingInterrupted)));
  EXPECT_NE(again->localizedDescription().find("on this same rule file before"), std::string::npos)
      << again->localizedDescription();

  // A changed file is compiled.
  writeText(browserFile("control.json"), "{}");
  answerWith(rulesOf(3));
  auto changed = reload();
  EXPECT_FALSE(changed) << changed->localizedDescription();
  EXPECT_EQ(applied(), rulesOf(3));
}

TEST_F(ContentBlockerManagerTests, MissingCompletionsAreAllowed) {
  answerWith(kRules);
  browser::ContentBlockerManager::getStateOfContentBlocker(kId, nullptr);
  browser::ContentBlockerManager::reloadContentBlocker(kId, nullptr);
  // The reload is done all the same.
  EXPECT_TRUE(eventually([&] { return readText(browserFile("reload.log")).find(" ok rules=1 ") != std::string::npos; }));
  EXPECT_EQ(applied(), kRules);

  // And the process still answers.
  std::mutex mutex;
  std::condition_variable done;
  std::optional<bool> enabled;
  browser::ContentBlockerManager::getStateOfContentBlocker(
      kId, [&](std::optional<bool> flag, std::optional<foundation::Error>) {
        std::lock_guard lock(mutex);
        enabled = flag.value_or(true);
        done.notify_all();
      });
  std::unique_lock lock(mutex);
  ASSERT_TRUE(done.wait_for(lock, std::chrono::seconds(30), [&] { return enabled.has_value(); }));
  EXPECT_EQ(enabled, false);
}

}  // namespace
