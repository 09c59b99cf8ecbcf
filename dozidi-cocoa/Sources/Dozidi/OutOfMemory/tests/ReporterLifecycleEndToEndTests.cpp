// End to end with real children on the real clock: a main thread blocked past the hang timeout is
// reported once in the foreground and never in the background; a run killed in the foreground is
// reported by the next launch as an out-of-memory crash with its last breadcrumbs, and a run that
// ended in order, crashed or was killed during a hang is not.
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "testing/Gzip.h"
#include "testing/IngestionServer.h"
#include "testing/ProgramRun.h"
#include "testing/TemporaryFolder.h"

namespace {

using json = nlohmann::json;

/// The event payloads among `requests` (envelopes whose items are "event").
std::vector<json> events(const std::vector<testing_support::IngestionRequest>& requests) {
  std::vector<json> found;
  for (const auto& request : requests) {
    const auto text = testing_support::gunzip(request.body);
    if (!text) continue;
    std::vector<std::string> lines;
    for (std::size_t start = 0; start <= text->size();) {
      const std::size_t end = text->find('\n', start);
      lines.push_back(text->substr(start, end == std::string::npos ? std::string::npos : end - start));
      if (end == std::string::npos) break;
      start = end + 1;
    }
    for (std::size_t i = 1; i + 1 < lines.size(); i += 2) {
      const json header = json::parse(lines[i], nullptr, false);
      if (!header.is_discarded() && header.value("type", "") == "event") found.push_back(json::parse(lines[i + 1], nullptr, false));
    }
  }
  return found;
}

std::vector<json> eventsOfType(const std::vector<json>& all, const std::string& type) {
  std::vector<json> found;
  for (const json& event : all) {
    if (event.contains("exception") && event["exception"]["values"][0].value("type", "") == type) found.push_back(event);
  }
  return found;
}

/// Seconds since 1970 of an ISO 8601 text "YYYY-MM-DDThh:mm:ss.mmmZ".
double secondsOfIso8601(const std::string& text) {
  std::tm parts{};
  if (strptime(text.c_str(), "%Y-%m-%dT%H:%M:%S", &parts) == nullptr) return -1;
  double fraction = 0;
  if (const auto dot = text.find('.'); dot != std::string::npos) fraction = std::stod("0" + text.substr(dot, 4));
  return static_cast<double>(timegm(&parts)) + fraction;
}

class ReporterLifecycleEndToEndTests : public ::testing::Test {
 protected:
  std::map<std::string, std::string> environment() const {
    return testing_support::environmentWith({{"FENDREL_DEVICE_ROOT", root_.path()}});
  }
  std::string ready() const { return work_.path() + "/ready"; }
  testing_support::ProgramRun run(const std::string& mode) {
    return testing_support::runProgram({LIFECYCLE_CHILD, mode, server_.dsn("pub", "/42"), ready()}, environment(),
                                       work_.path());
  }
  /// Starts `mode`, waits until it is ready, kills it with SIGKILL; false when it never got ready.
  bool runUntilReadyThenKill(const std::string& mode) {
    const pid_t pid = testing_support::startProgram({LIFECYCLE_CHILD, mode, server_.dsn("pub", "/42"), ready()},
                                                    environment(), work_.path());
    if (pid < 0) return false;
    bool isReady = false;
    for (int i = 0; i < 1000 && !isReady; ++i) {
      isReady = std::filesystem::exists(ready());
      if (!isReady) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid, SIGKILL);
    killedRun_ = testing_support::finishProgram(pid, work_.path());
    return isReady && killedRun_.status == 128 + SIGKILL;
  }

  testing_support::ProgramRun killedRun_;
  testing_support::TemporaryFolder root_{"lifecycle-root"};
  testing_support::TemporaryFolder work_{"lifecycle-work"};
  testing_support::IngestionServer server_;
};

TEST_F(ReporterLifecycleEndToEndTests, MainThreadBlockedPastTheTimeoutIsOneHangInTheForegroundOnly) {
  const auto foreground = run("hang");
  ASSERT_EQ(foreground.status, 0) << foreground.err;
  EXPECT_NE(foreground.out.find("detected=1 stopped=1"), std::string::npos) << foreground.out;
  const std::vector<json> hangs = eventsOfType(events(server_.requests()), "App Hanging");
  ASSERT_EQ(hangs.size(), 1u) << foreground.err;
  const json& event = hangs[0];
  EXPECT_EQ(event["level"], "error");
  const json& exception = event["exception"]["values"][0];
  EXPECT_EQ(exception["value"], "App hanging for at least 2000 ms.");
  EXPECT_EQ(exception["mechanism"]["type"], "AppHang");
  ASSERT_FALSE(event["threads"]["values"].empty());
  EXPECT_EQ(event["threads"]["values"][0]["current"], true);
  for (std::size_t i = 1; i < event["threads"]["values"].size(); ++i) EXPECT_EQ(event["threads"]["values"][i]["current"], false);
  bool blockingFunction = false;
  for (const json& frame : exception["stacktrace"]["frames"]) {
    blockingFunction |= frame.value("function", "") == "lifecycle_child_block_main_thread";
  }
  EXPECT_TRUE(blockingFunction) << exception["stacktrace"].dump(2);

  const std::size_t before = server_.requests().size();
  const auto background = run("hang-background");
  ASSERT_EQ(background.status, 0) << background.err;
  EXPECT_NE(background.out.find("detected=0 stopped=1"), std::string::npos) << background.out;
  const auto requests = server_.requests();
  EXPECT_TRUE(eventsOfType(events({requests.begin() + static_cast<std::ptrdiff_t>(before), requests.end()}),
                           "App Hanging")
                  .empty());
}

TEST_F(ReporterLifecycleEndToEndTests, RunKilledInTheForegroundIsReportedAsOutOfMemoryOnce) {
  ASSERT_TRUE(runUntilReadyThenKill("oom-kill")) << killedRun_.err;
  const auto next = run("start");
  ASSERT_EQ(next.status, 0) << next.err;
  const std::vector<json> all = events(server_.requests());
  ASSERT_EQ(all.size(), 1u) << next.err;
  const json& event = all[0];
  EXPECT_EQ(event["level"], "fatal");
  const json& exception = event["exception"]["values"][0];
  EXPECT_EQ(exception["type"], "OutOfMemory");
  EXPECT_EQ(exception["value"], "The OS most likely terminated your app because it overused RAM.");
  EXPECT_EQ(exception["mechanism"]["type"], "out_of_memory");
  EXPECT_EQ(exception["mechanism"]["handled"], false);
  std::vector<std::string> crumbs;
  for (const json& crumb : event["breadcrumbs"]) crumbs.push_back(crumb.value("message", ""));
  EXPECT_EQ(crumbs, (std::vector<std::string>{"5", "6", "7"}));
  ASSERT_EQ(event["breadcrumbs"].size(), 3u);
  EXPECT_NEAR(event["timestamp"].get<double>(), secondsOfIso8601(event["breadcrumbs"][2]["timestamp"]), 0.0011);

  // The launch after that has nothing more to say.
  const std::size_t before = server_.requests().size();
  ASSERT_EQ(run("start").status, 0);
  const auto requests = server_.requests();
  EXPECT_TRUE(events({requests.begin() + static_cast<std::ptrdiff_t>(before), requests.end()}).empty());
}

TEST_F(ReporterLifecycleEndToEndTests, RunEndedInOrderByACrashOrDuringAHangIsNoOutOfMemory) {
  struct Ending {
    const char* mode;
    int status;  // -1: killed by the test
  };
  for (const Ending& ending : {Ending{"oom-normal", 0}, Ending{"oom-crash", 128 + SIGABRT}, Ending{"oom-hang-kill", -1}}) {
    SCOPED_TRACE(ending.mode);
    std::filesystem::remove_all(root_.path());
    std::filesystem::create_directories(root_.path());
    std::filesystem::remove(ready());
    if (ending.status < 0) {
      ASSERT_TRUE(runUntilReadyThenKill(ending.mode)) << killedRun_.err;
    } else {
      const auto first = run(ending.mode);
      ASSERT_EQ(first.status, ending.status) << first.err;
    }
    const std::size_t before = server_.requests().size();
    const auto next = run("start");
    ASSERT_EQ(next.status, 0) << next.err;
    const auto requests = server_.requests();
    EXPECT_TRUE(eventsOfType(events({requests.begin() + static_cast<std::ptrdiff_t>(before), requests.end()}), "OutOfMemory")
                    .empty());
  }
}

}  // namespace
