#include "platform/dispatch/Thread.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/DispatchSemaphore.h"

namespace dispatch {
namespace {

std::string nameSeenBy(std::string_view name) {
  std::string seen;
  startThread(name, [&] { seen = currentThreadName(); }).join();
  return seen;
}

TEST(ThreadTests, TheNameIsSetBeforeTheBodyRunsAndCutToWhatTheSystemKeeps) {
  struct Case {
    const char* name;
    std::string_view given;
    std::string expected;
  };
  const Case cases[] = {
      {"short", "network", "network"},
      {"exactly fifteen bytes", "dispatch-timers", "dispatch-timers"},
      {"too long", "a-very-long-thread-name", "a-very-long-thr"},
      // "é" is two bytes; cutting at byte 15 would split the last one.
      {"multibyte at the cut", "éééééééé", "ééééééé"},
      {"empty", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(nameSeenBy(c.given), c.expected);
  }
}

TEST(ThreadTests, QueueThreadsCarryTheirQueuesName) {
  auto serial = DispatchQueue::create("list-parsing");
  std::string serialName;
  serial->sync([&] { serialName = currentThreadName(); });
  EXPECT_EQ(serialName, "list-parsing");

  std::string globalName;
  DispatchSemaphore done(0);
  DispatchQueue::global()->async([&] {
    globalName = currentThreadName();
    done.signal();
  });
  ASSERT_TRUE(done.wait(10.0));
  EXPECT_EQ(globalName, "dispatch-global");
}

}  // namespace
}  // namespace dispatch
