#include "dozidi-cocoa/Sources/Dozidi/Performance/Profiling/DozidiProfilePayload.h"

#include <gtest/gtest.h>

using dozidi::profiling::Backtrace;

namespace {

Backtrace sampleOf(std::uint64_t thread, std::string name, std::int32_t priority, std::uint64_t at,
                   std::vector<std::uint64_t> addresses) {
  Backtrace b;
  b.threadMetadata = {thread, std::move(name), priority};
  b.absoluteTimestamp = at;
  b.addresses = std::move(addresses);
  return b;
}

TEST(ProfilingPayloadTests, SamplesShareStacksAndFramesAndKeepFirstKnownThreadFacts) {
  DozidiProfilePayload payload(1000);
  payload.processBacktrace(sampleOf(7, "", -1, 1500, {0xa, 0xb}));
  payload.processBacktrace(sampleOf(7, "worker", 0, 2000, {0xc, 0xb}));  // 0xb shared
  payload.processBacktrace(sampleOf(9, "other", 5, 2500, {0xa, 0xb}));   // same stack, other thread
  payload.processBacktrace(sampleOf(7, "renamed", 3, 3000, {}));         // idle: empty stack
  Backtrace queued = sampleOf(9, "other", 5, 3500, {0xa, 0xb});
  queued.queueMetadata = {0xfeed, std::make_shared<const std::string>("main-queue")};
  payload.processBacktrace(queued);

  const foundation::Dictionary profile = payload.serialize();
  const foundation::Array& frames = *profile["frames"].array();
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(*frames[0]["instruction_addr"].string(), "0x000000000000000a");
  EXPECT_EQ(*frames[2]["instruction_addr"].string(), "0x000000000000000c");

  const foundation::Array& stacks = *profile["stacks"].array();
  ASSERT_EQ(stacks.size(), 3u);  // {0,1}, {2,1}, {}
  EXPECT_EQ(stacks[1][0].asUInt64(), 2u);
  EXPECT_EQ(stacks[1][1].asUInt64(), 1u);
  EXPECT_TRUE(stacks[2].array()->empty());

  const foundation::Array& samples = *profile["samples"].array();
  ASSERT_EQ(samples.size(), 5u);
  const std::uint64_t expectedStacks[] = {0, 1, 0, 2, 0};
  for (std::size_t i = 0; i < samples.size(); ++i) EXPECT_EQ(samples[i]["stack_id"].asUInt64(), expectedStacks[i]);
  EXPECT_EQ(*samples[0]["elapsed_since_start_ns"].string(), "500");
  EXPECT_EQ(*samples[2]["thread_id"].string(), "9");
  EXPECT_FALSE(samples[0].dictionary()->contains("queue_address"));
  EXPECT_EQ(*samples[4]["queue_address"].string(), "0x000000000000feed");

  const foundation::Dictionary& threads = *profile["thread_metadata"].dictionary();
  EXPECT_EQ(*threads["7"]["name"].string(), "worker");
  EXPECT_EQ(threads["7"]["priority"].asInt64(), 0);
  EXPECT_EQ(*threads["9"]["name"].string(), "other");
  EXPECT_EQ(*profile["queue_metadata"]["0x000000000000feed"]["label"].string(), "main-queue");
  EXPECT_TRUE(payload.hasSampleOfThread(9));
  EXPECT_FALSE(payload.hasSampleOfThread(8));
}

}  // namespace
