// fendrel-app run headless as a child process on a fresh device root: each launch counts once,
// an interrupt ends it with status 130, a bad option is a usage error, and a crash is delivered
// by the next start.

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "testing/Gzip.h"
#include "testing/IngestionServer.h"
#include "testing/ProgramRun.h"
#include "testing/TemporaryFolder.h"

namespace {

using testing_support::environmentWith;
using testing_support::readText;

class FendrelAppTests : public ::testing::Test {
 protected:
  std::map<std::string, std::string> environment() const {
    return environmentWith({{"FENDREL_DEVICE_ROOT", root_.path()},
                            {"FENDREL_DSN", dsn_},
                            {"FENDREL_CONFIG_BASES", "http://127.0.0.1:9/"},
                            {"FENDREL_ANALYTICS_ENDPOINT", "http://127.0.0.1:9/"}});
  }
  std::string settingsPath() const {
    return root_.path() + "/containers/group.com.morvit.Fendrel/Library/Preferences/group.com.morvit.Fendrel.plist";
  }
  /// Starts the app headless, waits until the settings file holds `count` launches, interrupts it
  /// and returns its exit status (-1 when it never got there). `endSeconds`, when given, receives
  /// how long the app took to end after the signal.
  int launchHeadlessUntilCounted(char count, int endSignal = SIGINT, const std::function<bool()>& alsoWaitFor = {},
                                 double* endSeconds = nullptr) {
    std::vector<std::string> args = {FENDREL_APP_BINARY, "--headless"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env;
    for (const auto& [k, v] : environment()) env.push_back(k + "=" + v);
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), envp.data()) != 0) return -1;
    running_ = pid;
    // The binary settings file stores the count as a one-byte integer (0x10, n) after its keys.
    bool counted = false;
    for (int i = 0; i < 400 && !counted; ++i) {
      const std::string settings = readText(settingsPath());
      counted = settings.find("launchCount") != std::string::npos &&
                settings.find(std::string("\x10") + count) != std::string::npos;
      if (!counted) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    for (int i = 0; i < 400 && counted && alsoWaitFor && !alsoWaitFor(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    const auto signalled = std::chrono::steady_clock::now();
    ::kill(pid, endSignal);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (endSeconds) *endSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - signalled).count();
    if (!counted) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  testing_support::TemporaryFolder root_{"fendrel-app"};
  std::string dsn_;
  pid_t running_ = 0;
};

/// The envelopes among `requests` that carry an event.
int eventEnvelopes(const std::vector<testing_support::IngestionRequest>& requests) {
  int count = 0;
  for (const auto& request : requests) {
    const auto body = testing_support::gunzip(request.body);
    if (body && body->find("\"type\":\"event\"") != std::string::npos) ++count;
  }
  return count;
}

TEST_F(FendrelAppTests, HeadlessLaunchesCountOnceEachAndEndOnInterrupt) {
  EXPECT_EQ(launchHeadlessUntilCounted(1), 130);
  EXPECT_FALSE(readText(root_.path() + "/apps/Fendrel.app/Main.storyboard").empty());
  EXPECT_EQ(launchHeadlessUntilCounted(2), 130);
}

/// The statuses of the sessions among `requests`, in order of arrival.
std::vector<std::string> sessionStatuses(const std::vector<testing_support::IngestionRequest>& requests) {
  std::vector<std::string> statuses;
  for (const auto& request : requests) {
    const auto body = testing_support::gunzip(request.body);
    if (!body || body->find("\"type\":\"session\"") == std::string::npos) continue;
    for (const char* status : {"ok", "exited", "crashed", "abnormal"}) {
      if (body->find(std::string("\"status\":\"") + status + "\"") != std::string::npos) statuses.push_back(status);
    }
  }
  return statuses;
}

TEST_F(FendrelAppTests, TerminatedHeadlessAppEndsItsSessionAndExitsWithinTheFlushBound) {
  testing_support::IngestionServer server;
  dsn_ = server.dsn("0123456789abcdef0123456789abcdef", "/42");
  double endSeconds = 0;
  EXPECT_EQ(launchHeadlessUntilCounted(1, SIGTERM, {}, &endSeconds), 0);
  // The session went out ended before the process did; the exit waits at most its 2 s bound.
  const auto statuses = sessionStatuses(server.requests());
  ASSERT_FALSE(statuses.empty());
  EXPECT_EQ(statuses.back(), "exited");
  EXPECT_LT(endSeconds, 2.5);
}

TEST_F(FendrelAppTests, CrashSignalledFromOutsideIsDeliveredOnceAfterTheServerCameBack) {
  testing_support::IngestionServer server;
  dsn_ = server.dsn("0123456789abcdef0123456789abcdef", "/42");
  // Launch 1 is ended by a fault signal sent from outside: the app dies by it and leaves a report.
  EXPECT_EQ(launchHeadlessUntilCounted(1, SIGSEGV), 128 + SIGSEGV);
  // Launch 2 finds the server down: the event waits on disk.
  server.stop();
  EXPECT_EQ(launchHeadlessUntilCounted(2), 130);
  EXPECT_EQ(eventEnvelopes(server.requests()), 0);
  // Launch 3 reaches the server: the waiting event goes, once.
  ASSERT_TRUE(server.start());
  EXPECT_EQ(launchHeadlessUntilCounted(3, SIGINT, [&] { return eventEnvelopes(server.requests()) > 0; }), 130);
  EXPECT_EQ(launchHeadlessUntilCounted(4), 130);
  EXPECT_EQ(eventEnvelopes(server.requests()), 1);
}

/// The bodies among `requests` that carry `text`.
int bodiesWith(const std::vector<testing_support::IngestionRequest>& requests, const std::string& text) {
  int count = 0;
  for (const auto& request : requests) {
    const auto body = testing_support::gunzip(request.body);
    if (body && body->find(text) != std::string::npos) ++count;
  }
  return count;
}

TEST_F(FendrelAppTests, MainThreadBlockedOnRequestIsReportedAsOneAppHang) {
  testing_support::IngestionServer server;
  dsn_ = server.dsn("0123456789abcdef0123456789abcdef", "/42");
  bool requested = false;
  const auto hangArrived = [&] {
    if (!requested) requested = ::kill(running_, SIGUSR1) == 0;
    return bodiesWith(server.requests(), "\"App Hanging\"") > 0;
  };
  EXPECT_EQ(launchHeadlessUntilCounted(1, SIGINT, hangArrived), 130);
  const auto requests = server.requests();
  EXPECT_EQ(bodiesWith(requests, "\"App Hanging\""), 1);
  EXPECT_EQ(bodiesWith(requests, "App hanging for at least 2000 ms."), 1);
  std::string hang;
  for (const auto& request : requests) {
    const auto body = testing_support::gunzip(request.body);
    if (body && body->find("\"App Hanging\"") != std::string::npos) hang = *body;
  }
  EXPECT_NE(hang.find("\"fendrel_app_block_main_thread\""), std::string::npos) << hang;
}

TEST_F(FendrelAppTests, UnknownOptionIsAUsageError) {
  auto run = testing_support::runProgram({FENDREL_APP_BINARY, "--headles"}, environment(), root_.path());
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("unknown option '--headles'"), std::string::npos);
  EXPECT_NE(run.err.find("Try 'fendrel-app --help'"), std::string::npos);
}

}  // namespace
