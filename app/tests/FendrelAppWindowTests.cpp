// fendrel-app in its desktop window, as a child process with traces on, against the loopback
// ingestion server: the app's start is measured from the kernel's start of the process to its
// window's first appearance on the screen, and goes out once, with the first "ui.load"
// transaction. Needs a display (xvfb-run).

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/tests/IngestedTransactions.h"
#include "platform/foundation/JSONSerialization.h"
#include "testing/IngestionServer.h"
#include "testing/ProgramRun.h"
#include "testing/TemporaryFolder.h"

// Last: its macros would rename words of the headers above.
#include <X11/Xlib.h>

namespace {

using foundation::Value;

double realtimeNow() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9;
}

std::string operationOf(const Value& transaction) {
  return (*transaction.dictionary())["contexts"]["trace"]["op"].asString().value_or("");
}

/// The spans of `transaction` whose operation is `operation`, by description.
std::map<std::string, Value> spansWithOperation(const Value& transaction, const std::string& operation) {
  std::map<std::string, Value> spans;
  const auto* list = (*transaction.dictionary())["spans"].array();
  if (!list) return spans;
  for (const auto& span : *list) {
    if (!span.dictionary()) continue;
    const auto& fields = *span.dictionary();
    if (fields["op"].asString() == operation) spans.emplace(fields["description"].asString().value_or(""), span);
  }
  return spans;
}

double number(const Value& value) { return value.asDouble().value_or(-1); }

/// Watches the display for top-level windows coming onto the screen.
class MapWatch {
 public:
  MapWatch() : display_(XOpenDisplay(nullptr)) {
    if (!display_) return;
    XSelectInput(display_, DefaultRootWindow(display_), SubstructureNotifyMask);
    XSync(display_, 0);
  }
  ~MapWatch() {
    if (display_) XCloseDisplay(display_);
  }
  MapWatch(const MapWatch&) = delete;
  MapWatch& operator=(const MapWatch&) = delete;
  bool ok() const { return display_ != nullptr; }

  /// Waits (real time, bounded) for the next ordinary top-level window to be mapped; the wall
  /// time at which this process learnt of it, or none.
  std::optional<double> nextMap(double seconds) {
    const double deadline = realtimeNow() + seconds;
    while (realtimeNow() < deadline) {
      while (XPending(display_) > 0) {
        XEvent event;
        XNextEvent(display_, &event);
        if (event.type == MapNotify && !event.xmap.override_redirect) return realtimeNow();
      }
      pollfd descriptor{ConnectionNumber(display_), POLLIN, 0};
      ::poll(&descriptor, 1, 100);
    }
    return std::nullopt;
  }

 private:
  Display* display_;
};

class FendrelAppWindowTests : public ::testing::Test {
 protected:
  void TearDown() override {
    if (child_ > 0) {
      ::kill(child_, SIGKILL);
      testing_support::finishProgram(child_, work_.path());
    }
  }

  testing_support::TemporaryFolder root_{"fendrel-app-window"};
  testing_support::TemporaryFolder work_{"fendrel-app-window-run"};
  pid_t child_ = -1;
};

TEST_F(FendrelAppWindowTests, FirstWindowOnScreenEndsOneColdStartSentWithTheFirstScreenLoad) {
  MapWatch maps;
  if (!maps.ok()) {
    if (std::getenv("FENDREL_REQUIRE_DISPLAY")) FAIL() << "no display; run under xvfb-run";
    GTEST_SKIP() << "no display";
  }
  testing_support::IngestionServer server;
  ASSERT_NE(server.port(), 0);
  const auto environment = testing_support::environmentWith(
      {{"FENDREL_DEVICE_ROOT", root_.path()},
       {"FENDREL_DSN", server.dsn("0123456789abcdef0123456789abcdef", "/42")},
       {"FENDREL_TRACES", "1"},
       {"FENDREL_CONFIG_BASES", "http://127.0.0.1:9/"},
       {"FENDREL_ANALYTICS_ENDPOINT", "http://127.0.0.1:9/"}});
  child_ = testing_support::startProgram({FENDREL_APP_BINARY}, environment, work_.path());
  ASSERT_GT(child_, 0);
  // Computed apart from the app: the kernel's record of the child's start.
  const double kernelStart = testing_support::processStartTime(child_);
  ASSERT_GT(kernelStart, 0);
  const auto mappedAt = maps.nextMap(60);
  ASSERT_TRUE(mappedAt) << "the app's window never came onto the screen";

  // The first screen load goes out once the screen has appeared; wait for it.
  std::vector<Value> loads;
  for (int i = 0; i < 1200 && loads.empty(); ++i) {
    for (auto& transaction : fendrel::test_support::ingestedTransactions(server.requests()))
      if (operationOf(transaction) == "ui.load") loads.push_back(std::move(transaction));
    if (loads.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ASSERT_FALSE(loads.empty()) << server.requests().size() << " requests, none a \"ui.load\" transaction";

  // The app ends as when its window is closed; what it still had to send goes before it exits.
  ::kill(child_, SIGTERM);
  const auto run = testing_support::finishProgram(child_, work_.path());
  child_ = -1;
  EXPECT_EQ(run.status, 0) << run.err;

  const auto sent = fendrel::test_support::ingestedTransactions(server.requests());
  const auto first = std::find_if(sent.begin(), sent.end(), [](const Value& t) { return operationOf(t) == "ui.load"; });
  ASSERT_NE(first, sent.end());
  const auto& fields = *first->dictionary();
  const auto spans = spansWithOperation(*first, "app.start.cold");
  ASSERT_EQ(spans.count("Cold Start"), 1u) << "the first \"ui.load\" transaction has no cold start; sent: " << [&] {
    std::string names;
    for (const auto& transaction : sent) {
      names += (*transaction.dictionary())["transaction"].asString().value_or("?") + " (" + operationOf(transaction) +
               (spansWithOperation(transaction, "app.start.cold").empty() ? ") " : ", with the app start) ");
    }
    return names;
  }();
  const auto& coldStart = *spans.at("Cold Start").dictionary();
  const double start = number(coldStart["start_timestamp"]);
  const double end = number(coldStart["timestamp"]);
  const double duration = number(fields["measurements"]["app_start_cold"]["value"]) / 1000.0;

  // From the kernel's start of the process to the window's first appearance.
  EXPECT_NEAR(start, kernelStart, 0.05);
  EXPECT_NEAR(duration, end - start, 0.001);
  EXPECT_NEAR(duration, *mappedAt - kernelStart, 0.05);
  EXPECT_NEAR(number(fields["start_timestamp"]), start, 0.001) << "the transaction starts with the app";
  EXPECT_EQ(fields["contexts"]["app"]["start_type"].asString(), "cold");
  for (const char* phase : {"Pre Runtime Init", "Runtime Init to Pre Main Initializers", "UIKit and Application Init",
                            "Initial Frame Render"}) {
    ASSERT_EQ(spans.count(phase), 1u) << phase;
    const auto& span = *spans.at(phase).dictionary();
    EXPECT_LE(start - 0.001, number(span["start_timestamp"])) << phase;
    EXPECT_LE(number(span["timestamp"]), end + 0.001) << phase;
  }

  // The start goes out once: no other transaction carries it.
  int carrying = 0;
  for (const auto& transaction : sent) {
    if (!spansWithOperation(transaction, "app.start.cold").empty() ||
        !(*transaction.dictionary())["measurements"]["app_start_cold"].isNull())
      ++carrying;
  }
  EXPECT_EQ(carrying, 1);
}

}  // namespace
