#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>

#include "TovelCommon/Analytics.h"
#include "TovelCommon/ConfigCounterKey.h"
#include "TovelTestSupport.h"
#include "platform/foundation/UserDefaults.h"

extern char** environ;

namespace tovel {
namespace {

constexpr const char* kChildRootVariable = "TOVEL_COUNTER_CHILD_ROOT";
constexpr const char* kSuite = "group.com.morvit.Fendrel";

/// Counts the events it is asked to log.
struct LogRecorder final : AnalyticsTracker {
  std::vector<std::string> events;
  std::string identifier() override { return "ID"; }
  bool enabled() const override { return true; }
  void setEnabled(bool) override {}
  void log(std::string_view event, const AnalyticsParameters& params, Once once) override {
    EXPECT_TRUE(params.empty());
    EXPECT_EQ(once, Once::No);
    events.emplace_back(event);
  }
  void logError(std::string_view, std::string_view, const AnalyticsParameters&, std::string_view,
                std::uint64_t) override {}
  void logPurchase(bool, std::string_view, std::string_view, foundation::Number, const AnalyticsParameters&,
                   std::optional<std::string>) override {}
  void logInvite(std::string_view, const AnalyticsParameters&) override {}
};

class ConfigCounterKeyTest : public ::testing::Test {
 protected:
  ConfigCounterKey counter(std::string name, bool trackFirstEver) {
    return ConfigCounterKey{std::move(name), trackFirstEver, defaults_, recorder_};
  }
  test_support::ScopedDeviceRoot root_;
  std::shared_ptr<foundation::UserDefaults> defaults_ = foundation::UserDefaults::suite(kSuite);
  std::shared_ptr<LogRecorder> recorder_ = std::make_shared<LogRecorder>();
};

TEST_F(ConfigCounterKeyTest, CountsAndReportsTheFirstOccurrenceOnly) {
  auto silent = counter("share", false);
  auto tracked = counter("launch", true);
  EXPECT_EQ(silent.count(), 0);
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(silent.increment().ok());
    ASSERT_TRUE(tracked.increment().ok());
  }
  EXPECT_EQ(silent.count(), 2);
  EXPECT_EQ(defaults_->integer("launchCount"), 2);
  EXPECT_EQ(recorder_->events, std::vector<std::string>{"1st_launch"});

  // A counter of the same name shares the count; a count removed reads 0 and reports again.
  EXPECT_EQ(counter("launch", false).count(), 2);
  ASSERT_TRUE(defaults_->removeObject("launchCount").ok());
  ASSERT_TRUE(tracked.increment().ok());
  EXPECT_EQ(recorder_->events, (std::vector<std::string>{"1st_launch", "1st_launch"}));
}

/// Runs this test binary again as a second process that increments "launch" once in `root`.
int incrementInChildProcess(const std::string& root) {
  const std::string variable = std::string(kChildRootVariable) + "=" + root;
  std::vector<std::string> environment{variable};
  for (char** entry = environ; *entry; ++entry) environment.emplace_back(*entry);
  std::vector<char*> envp;
  for (auto& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);
  // The same program name as the parent's, so that both use the same home folder.
  std::error_code error;
  std::string program = std::filesystem::read_symlink("/proc/self/exe", error).string();
  std::string filter = "--gtest_filter=ConfigCounterKeyChild.IncrementOnce";
  char* argv[] = {program.data(), filter.data(), nullptr};
  pid_t pid = 0;
  if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, envp.data()) != 0) return -1;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(ConfigCounterKeyTest, TheCountPersistsAcrossProcesses) {
  ASSERT_TRUE(counter("launch", false).increment().ok());
  ASSERT_EQ(incrementInChildProcess(root_.path()), 0);
  EXPECT_EQ(counter("launch", false).count(), 2);
  ASSERT_TRUE(counter("launch", false).increment().ok());
  EXPECT_EQ(counter("launch", false).count(), 3);
}

// The child's side of TheCountPersistsAcrossProcesses; does nothing in a normal run.
TEST(ConfigCounterKeyChild, IncrementOnce) {
  const char* root = std::getenv(kChildRootVariable);
  if (!root) GTEST_SKIP() << "runs only as the child of TheCountPersistsAcrossProcesses";
  foundation::DeviceRoot::setPath(root);
  auto defaults = foundation::UserDefaults::suite(kSuite);
  ASSERT_TRUE((ConfigCounterKey{"launch", false, defaults, nullptr}.increment().ok()));
}

}  // namespace
}  // namespace tovel
