#include "platform/foundation/tests/ConsoleCapture.h"
#include "platform/foundation/Console.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace foundation {
namespace {

TEST(ConsoleTest, CaptureTakesWholeLinesFromAnyThread) {
  auto outer = foundation::captureConsoleForTesting();
  Console::print("before");
  {
    auto inner = foundation::captureConsoleForTesting();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
      threads.emplace_back([] {
        for (int i = 0; i < 100; ++i) Console::print("TRACK event");
      });
    }
    for (auto& thread : threads) thread.join();
    std::string expected;
    for (int i = 0; i < 400; ++i) expected += "TRACK event\n";
    EXPECT_EQ(inner->text(), expected);
  }
  Console::print("after");
  EXPECT_EQ(outer->text(), "before\nafter\n");
}

}  // namespace
}  // namespace foundation
