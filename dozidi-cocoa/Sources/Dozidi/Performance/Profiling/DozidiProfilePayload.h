#pragma once
// The samples of one profile as they arrive: each backtrace becomes a sample whose stack and
// frames are shared with every identical stack and address seen before.
#include "dozidi-cocoa/Sources/Dozidi/Performance/Profiling/DozidiSamplingProfiler.h"
#include "platform/foundation/Value.h"

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

/// Written by the sampling thread only; read after the sampler has stopped.
class DozidiProfilePayload {
 public:
  explicit DozidiProfilePayload(std::uint64_t startTimestamp) : startTimestamp_(startTimestamp) {}

  void processBacktrace(const dozidi::profiling::Backtrace& backtrace);

  std::size_t sampleCount() const { return samples_.size(); }
  /// Thread ids (decimal) of every sample, in order.
  bool hasSampleOfThread(std::uint64_t threadId) const;

  /// The "profile" object: "samples", "stacks", "frames", "thread_metadata", "queue_metadata".
  foundation::Dictionary serialize() const;

 private:
  struct Sample {
    std::uint64_t elapsedNs;
    std::uint64_t threadId;
    std::optional<std::string> queueKey;
    std::size_t stackId;
  };
  struct ThreadEntry {
    std::string key;
    std::optional<std::string> name;
    std::optional<std::int32_t> priority;
  };

  std::uint64_t startTimestamp_;
  std::vector<Sample> samples_;
  std::vector<std::vector<std::size_t>> stacks_;
  std::vector<std::string> frames_;
  std::vector<ThreadEntry> threads_;
  std::vector<std::pair<std::string, std::string>> queues_;
  std::unordered_map<std::uint64_t, std::size_t> frameIndex_;
  // Stack ids by a hash of their frame indexes; equal hashes are told apart by the stacks.
  std::unordered_multimap<std::uint64_t, std::size_t> stackIndex_;
  std::vector<std::size_t> stackScratch_;  // the stack of the backtrace at hand
  std::unordered_map<std::uint64_t, std::size_t> threadIndex_;
};

/// "0x" and 16 lowercase hexadecimal digits.
std::string dozidiProfileAddressText(std::uint64_t address);
