#include <gtest/gtest.h>
#include <sched.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiNetlinkReachabilityTarget.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiReachability.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/URL.h"

namespace {

constexpr std::uint32_t kReachable = kDozidiReachabilityFlagsReachable;

// What the test sees of one target the reachability made.
struct FakeTargetState {
  std::mutex lock;
  std::string host;
  DozidiReachabilityTarget::Callback callback;
  std::shared_ptr<dispatch::DispatchQueue> queue;
  bool released = false;
};

// A target the test drives: `report` delivers flags on the scheduled queue, as the system's would.
class FakeTarget final : public DozidiReachabilityTarget {
 public:
  explicit FakeTarget(std::shared_ptr<FakeTargetState> state) : state_(std::move(state)) {}
  ~FakeTarget() override {
    std::lock_guard guard(state_->lock);
    state_->released = true;
  }
  void schedule(Callback callback, std::shared_ptr<dispatch::DispatchQueue> queue) override {
    std::lock_guard guard(state_->lock);
    state_->callback = std::move(callback);
    state_->queue = std::move(queue);
  }
  void unschedule() override {
    std::lock_guard guard(state_->lock);
    state_->callback = nullptr;
    state_->queue = nullptr;
  }

 private:
  std::shared_ptr<FakeTargetState> state_;
};

class Targets {
 public:
  DozidiReachability::TargetFactory factory() {
    return [this](const std::string& host) {
      auto state = std::make_shared<FakeTargetState>();
      state->host = host;
      std::lock_guard guard(lock_);
      made_.push_back(state);
      return std::make_unique<FakeTarget>(state);
    };
  }
  std::shared_ptr<FakeTargetState> at(std::size_t index) {
    std::lock_guard guard(lock_);
    return index < made_.size() ? made_[index] : nullptr;
  }
  std::size_t count() {
    std::lock_guard guard(lock_);
    return made_.size();
  }

 private:
  std::mutex lock_;
  std::vector<std::shared_ptr<FakeTargetState>> made_;
};

// Reports `flags` through `target` and waits until the report and its callbacks have run.
void report(const std::shared_ptr<FakeTargetState>& target, std::uint32_t flags) {
  DozidiReachabilityTarget::Callback callback;
  {
    std::lock_guard guard(target->lock);
    callback = target->callback;
  }
  const auto queue = DozidiReachability::connectivityQueue();
  if (callback) queue->async([callback, flags] { callback(flags); });
  queue->sync([] {});
}

struct Heard {
  std::mutex lock;
  std::vector<std::pair<bool, std::string>> calls;
  DozidiReachability::Callback callback() {
    return [this](bool connected, const std::string& type) {
      std::lock_guard guard(lock);
      calls.emplace_back(connected, type);
    };
  }
  std::vector<std::pair<bool, std::string>> taken() {
    std::lock_guard guard(lock);
    return std::exchange(calls, {});
  }
};

const foundation::URL kServiceURL = *foundation::URL::parse("https://dozidi.io");
using Calls = std::vector<std::pair<bool, std::string>>;

TEST(ReporterReachabilityTests, OnlyTransitionsAfterTheFirstReportReachTheObservers) {
  const struct {
    const char* name;
    std::vector<std::uint32_t> reports;
    Calls expected;
  } cases[] = {
      {"starts connected: the loss sets the baseline", {kReachable, 0, kReachable}, {{true, "wifi"}}},
      {"starts disconnected", {0, kReachable, 0}, {{true, "wifi"}, {false, "none"}}},
      {"repeated flags change nothing", {0, 0, kReachable, kReachable | 0x4, kReachable}, {{true, "wifi"}}},
      {"other bits are not transitions", {kReachable, kReachable | 0x4, 0x4, 0}, {}},
      {"every transition after the baseline", {0, kReachable, 0, kReachable}, {{true, "wifi"}, {false, "none"}, {true, "wifi"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Targets targets;
    Heard heard;
    auto reachability = DozidiReachability::create(targets.factory());
    reachability->monitorURL(kServiceURL, heard.callback());
    ASSERT_EQ(targets.count(), 1u);
    EXPECT_EQ(targets.at(0)->host, "dozidi.io");
    for (const auto flags : c.reports) report(targets.at(0), flags);
    EXPECT_EQ(heard.taken(), c.expected);
    reachability->stopMonitoring();
  }
}

TEST(ReporterReachabilityTests, StoppingForgetsTheBaselineAndReleasesTheTarget) {
  Targets targets;
  Heard heard;
  auto reachability = DozidiReachability::create(targets.factory());
  reachability->monitorURL(kServiceURL, heard.callback());
  report(targets.at(0), 0);
  report(targets.at(0), kReachable);
  EXPECT_EQ(heard.taken(), (Calls{{true, "wifi"}}));

  reachability->stopMonitoring();
  EXPECT_TRUE(targets.at(0)->released);
  reachability->monitorURL(kServiceURL, heard.callback());
  // The first report after the restart is a baseline again, though the bit changed.
  report(targets.at(1), 0);
  EXPECT_EQ(heard.taken(), Calls{});
  report(targets.at(1), kReachable);
  EXPECT_EQ(heard.taken(), (Calls{{true, "wifi"}}));

  // A second watch of the same instance replaces its first: the first is stopped and released.
  reachability->monitorURL(kServiceURL, heard.callback());
  EXPECT_TRUE(targets.at(1)->released);
  EXPECT_FALSE(targets.at(2)->released);
  reachability.reset();
  EXPECT_TRUE(targets.at(2)->released);
}

TEST(ReporterReachabilityTests, InstancesShareTheObserversButEachStopsOnlyItsOwnTarget) {
  Targets targets;
  Heard first, second, hostless;
  auto a = DozidiReachability::create(targets.factory());
  auto b = DozidiReachability::create(targets.factory());
  auto c = DozidiReachability::create(targets.factory());
  EXPECT_NE(a->keyForInstance(), b->keyForInstance());
  a->monitorURL(kServiceURL, first.callback());
  b->monitorURL(kServiceURL, second.callback());
  // Without a host nothing is watched, but the callback hears the others' transitions.
  c->monitorURL(*foundation::URL::parse("file:///tmp/x"), hostless.callback());
  ASSERT_EQ(targets.count(), 2u);

  report(targets.at(0), 0);
  report(targets.at(1), kReachable);  // through b's target, heard by all
  EXPECT_EQ(first.taken(), (Calls{{true, "wifi"}}));
  EXPECT_EQ(second.taken(), (Calls{{true, "wifi"}}));
  EXPECT_EQ(hostless.taken(), (Calls{{true, "wifi"}}));

  a->stopMonitoring();
  EXPECT_TRUE(targets.at(0)->released);
  EXPECT_FALSE(targets.at(1)->released);
  report(targets.at(1), 0);  // baseline after the stop
  report(targets.at(1), kReachable);
  EXPECT_EQ(first.taken(), Calls{});
  EXPECT_EQ(second.taken(), (Calls{{true, "wifi"}}));
  EXPECT_EQ(hostless.taken(), (Calls{{true, "wifi"}}));
  b->stopMonitoring();
  c->stopMonitoring();
}

TEST(ReporterReachabilityTests, CallbacksMayStopAndRegisterWhileOthersDoTheSame) {
  Targets targets;
  auto reporter = DozidiReachability::create(targets.factory());
  std::atomic<int> heard = 0;
  reporter->monitorURL(kServiceURL, [&](bool, const std::string&) { ++heard; });
  // A callback that stops its own instance from inside the call.
  auto selfStopping = DozidiReachability::create(targets.factory());
  selfStopping->monitorURL(kServiceURL, [&](bool, const std::string&) { selfStopping->stopMonitoring(); });

  std::atomic<bool> done = false;
  std::vector<std::thread> churn;
  for (int i = 0; i < 4; ++i) {
    churn.emplace_back([&] {
      while (!done) {
        auto other = DozidiReachability::create(targets.factory());
        other->monitorURL(kServiceURL, [](bool, const std::string&) {});
        other->stopMonitoring();
      }
    });
  }
  report(targets.at(0), 0);
  for (int i = 0; i < 200; ++i) report(targets.at(0), i % 2 ? 0 : kReachable);
  done = true;
  for (auto& thread : churn) thread.join();
  // Each stop resets the shared baseline, so during the churn a transition may go unheard; once
  // it is over, these three reports hold at least one transition after a baseline.
  heard = 0;
  for (const auto flags : {0u, kReachable, 0u}) report(targets.at(0), flags);
  EXPECT_GT(heard.load(), 0);
  reporter->stopMonitoring();
}

// Collects the reports of a real target.
struct Reports {
  std::mutex lock;
  std::condition_variable changed;
  std::deque<std::uint32_t> flags;

  bool waitFor(std::uint32_t expected) {
    std::unique_lock guard(lock);
    return changed.wait_for(guard, std::chrono::seconds(20), [&] {
      while (!flags.empty()) {
        const auto next = flags.front();
        flags.pop_front();
        if (next == expected) return true;
      }
      return false;
    });
  }
};

bool run(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

// In a network namespace of its own (which needs the rights to make one and the "ip" tool), the
// real watch follows routes and links the test adds and removes.
TEST(ReporterReachabilityTests, TheKernelWatchFollowsRoutesAndLinks) {
  if (!run("ip -V")) GTEST_SKIP() << "the ip tool is not installed";
  std::string skipped;
  std::thread isolated([&] {
    // Only this thread, its children and the threads it starts enter the new namespace.
    if (::unshare(CLONE_NEWNET) != 0) {
      skipped = "cannot make a network namespace here";
      return;
    }
    Reports reports;
    auto target = DozidiNetlinkReachabilityTarget::create("dozidi.io");
    auto queue = dispatch::DispatchQueue::create("reachability-test");
    target->schedule(
        [&](std::uint32_t flags) {
          std::lock_guard guard(reports.lock);
          reports.flags.push_back(flags);
          reports.changed.notify_all();
        },
        queue);
    EXPECT_TRUE(reports.waitFor(0)) << "a fresh namespace has no route out";
    if (!run("ip link add v0 type veth peer name v1")) {
      skipped = "cannot make a virtual link here";
      target->unschedule();
      return;
    }
    ASSERT_TRUE(run("ip link set v1 up && ip link set v0 up && ip addr add 10.77.0.2/24 dev v0"));
    ASSERT_TRUE(run("ip route add default via 10.77.0.1"));
    EXPECT_TRUE(reports.waitFor(kReachable)) << "a default route on a running link";
    ASSERT_TRUE(run("ip link set v1 down"));
    EXPECT_TRUE(reports.waitFor(0)) << "the link lost its carrier";
    ASSERT_TRUE(run("ip link set v1 up"));
    EXPECT_TRUE(reports.waitFor(kReachable)) << "the carrier is back";
    ASSERT_TRUE(run("ip route del default"));
    EXPECT_TRUE(reports.waitFor(0)) << "no default route";
    EXPECT_EQ(DozidiNetlinkReachabilityTarget::currentFlags(), 0u);
    target->unschedule();
    queue->sync([] {});
  });
  isolated.join();
  if (!skipped.empty()) GTEST_SKIP() << skipped;
}

}  // namespace
