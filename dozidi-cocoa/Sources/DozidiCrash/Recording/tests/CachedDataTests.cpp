#include "dozidi-cocoa/Sources/DozidiCrash/Recording/DozidiCrashCachedData.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

TEST(CachedDataTests, NamesAThreadAsItWasNamed) {
  std::atomic<bool> stop{false};
  std::atomic<DozidiCrashThread> id{0};
  std::thread worker([&] {
    pthread_setname_np(pthread_self(), "worker-1");
    id = dozidicrashthread_self();
    while (!stop.load()) std::this_thread::yield();
  });
  while (id.load() == 0) std::this_thread::yield();

  // The refresh thread refreshes at once when it starts.
  dozidicrashccd_init(60);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  const char* name = nullptr;
  while ((name = dozidicrashccd_getThreadName(id)) == nullptr && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::yield();
  }
  dozidicrashccd_close();
  ASSERT_NE(name, nullptr);
  EXPECT_STREQ(name, "worker-1");
  EXPECT_EQ(dozidicrashccd_getQueueName(id), nullptr);
  EXPECT_EQ(dozidicrashccd_getThreadName(0x7ffffff0), nullptr);
  // Closing twice, and starting again after a close, are fine.
  dozidicrashccd_close();
  dozidicrashccd_init(60);
  dozidicrashccd_close();
  stop = true;
  worker.join();
}

TEST(CachedDataTests, NoRefreshWhileFrozenAndUnfreezeNeverGoesNegative) {
  dozidicrashccd_unfreeze();
  dozidicrashccd_unfreeze();
  dozidicrashccd_freeze();
  EXPECT_FALSE(dozidicrash::detail::refreshCachedThreadData());
  dozidicrashccd_unfreeze();
  // Had the counter gone below zero, one freeze would not stop a refresh.
  EXPECT_TRUE(dozidicrash::detail::refreshCachedThreadData());
}

// Readers take names while refreshes swap the cache under them, as the report writer does
// (freezing around its reads) while the refresh thread runs.
TEST(CachedDataTests, ReadersNeverSeeATornCache) {
  std::atomic<bool> stop{false};
  std::atomic<long> lookups{0};
  DozidiCrashThread self = dozidicrashthread_self();
  std::vector<std::thread> readers;
  for (int r = 0; r < 4; ++r) {
    readers.emplace_back([&] {
      while (!stop.load()) {
        dozidicrashccd_freeze();
        if (const char* name = dozidicrashccd_getThreadName(self)) {
          EXPECT_LT(std::strlen(name), 16u);
        }
        dozidicrashccd_unfreeze();
        lookups.fetch_add(1);
      }
    });
  }
  // Enough swaps, with readers active during them; bounded in time should refreshes starve.
  int swaps = 0;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while ((swaps < 300 || lookups.load() < 1000) && std::chrono::steady_clock::now() < deadline) {
    if (dozidicrash::detail::refreshCachedThreadData()) ++swaps;
  }
  stop = true;
  for (std::thread& reader : readers) reader.join();
  EXPECT_GE(swaps, 300);
  EXPECT_GE(lookups.load(), 1000);
}

}  // namespace
