#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiGlobalEventProcessor.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiEvent.h"

namespace {

class ReporterGlobalEventProcessorTests : public ::testing::Test {
 protected:
  void TearDown() override { DozidiGlobalEventProcessor::shared().removeAllProcessors(); }
};

TEST_F(ReporterGlobalEventProcessorTests, ProcessorsRunInOrderUntilOneDrops) {
  auto& processors = DozidiGlobalEventProcessor::shared();
  auto event = DozidiEvent::initWithLevel(DozidiEventLevel::Info);
  EXPECT_EQ(processors.reportAll(event), event);

  processors.addEventProcessor([](std::shared_ptr<DozidiEvent> e) {
    e->tags = foundation::Dictionary{{"order", "first"}};
    return e;
  });
  processors.addEventProcessor([](std::shared_ptr<DozidiEvent> e) {
    e->tags->set("order", (*e->tags)["order"].asString().value_or("") + ",second");
    return e;
  });
  EXPECT_EQ(processors.processors().size(), 2u);
  EXPECT_EQ((*processors.reportAll(event)->tags)["order"].asString(), "first,second");

  int afterDrop = 0;
  processors.addEventProcessor([](std::shared_ptr<DozidiEvent>) { return std::shared_ptr<DozidiEvent>(); });
  processors.addEventProcessor([&](std::shared_ptr<DozidiEvent> e) {
    ++afterDrop;
    return e;
  });
  EXPECT_EQ(processors.reportAll(event), nullptr);
  EXPECT_EQ(afterDrop, 0);

  processors.removeAllProcessors();
  EXPECT_EQ(processors.reportAll(event), event);
}

TEST_F(ReporterGlobalEventProcessorTests, AddingWhileFourThreadsPrepareEventsIsSafe) {
  auto& processors = DozidiGlobalEventProcessor::shared();
  std::atomic<bool> stop{false};
  std::atomic<int> prepared{0};
  std::vector<std::thread> preparers;
  for (int t = 0; t < 4; ++t) {
    preparers.emplace_back([&] {
      while (!stop) {
        auto event = processors.reportAll(DozidiEvent::initWithLevel(DozidiEventLevel::Error));
        ASSERT_NE(event, nullptr);
        ++prepared;
      }
    });
  }
  // Keep changing the list until the preparing threads have run many chains through it.
  for (int i = 0; i < 500 || prepared < 2000; ++i) {
    processors.addEventProcessor([](std::shared_ptr<DozidiEvent> e) { return e; });
    if (i % 100 == 99) processors.removeAllProcessors();
    if (i % 50 == 0) std::this_thread::yield();
  }
  stop = true;
  for (auto& thread : preparers) thread.join();
  EXPECT_GT(prepared.load(), 0);
}

}  // namespace
