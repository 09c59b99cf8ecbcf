#include "dozidi-cocoa/Sources/Dozidi/Performance/Profiling/DozidiProfilePayload.h"

#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiTime.h"

#include <cinttypes>
#include <cstdio>

std::string dozidiProfileAddressText(std::uint64_t address) {
  char text[19];
  std::snprintf(text, sizeof text, "0x%016" PRIx64, address);
  return text;
}

void DozidiProfilePayload::processBacktrace(const dozidi::profiling::Backtrace& backtrace) {
  const std::uint64_t threadId = backtrace.threadMetadata.threadID;
  auto [slot, isNew] = threadIndex_.try_emplace(threadId, threads_.size());
  if (isNew) threads_.push_back({std::to_string(threadId), std::nullopt, std::nullopt});
  ThreadEntry& thread = threads_[slot->second];
  // Values once known are kept: a name first missing is filled in later, never replaced.
  if (!thread.name && !backtrace.threadMetadata.name.empty()) thread.name = backtrace.threadMetadata.name;
  if (!thread.priority && backtrace.threadMetadata.priority != -1) thread.priority = backtrace.threadMetadata.priority;

  std::optional<std::string> queueKey;
  if (backtrace.queueMetadata.address != 0) {
    queueKey = dozidiProfileAddressText(backtrace.queueMetadata.address);
    if (backtrace.queueMetadata.label) {
      bool known = false;
      for (const auto& entry : queues_) known = known || entry.first == *queueKey;
      if (!known) queues_.emplace_back(*queueKey, *backtrace.queueMetadata.label);
    }
  }

  // Stacks are told apart by their frame indexes, as a key of the indexes joined with "|" would;
  // a stack seen before costs no allocation, which matters on the sampling thread.
  stackScratch_.clear();
  std::uint64_t hash = 14695981039346656037ULL;
  for (std::uint64_t address : backtrace.addresses) {
    auto [frame, newFrame] = frameIndex_.try_emplace(address, frames_.size());
    if (newFrame) frames_.push_back(dozidiProfileAddressText(address));
    stackScratch_.push_back(frame->second);
    hash = (hash ^ frame->second) * 1099511628211ULL;
  }
  std::size_t stackId = stacks_.size();
  for (auto [entry, end] = stackIndex_.equal_range(hash); entry != end; ++entry) {
    if (stacks_[entry->second] == stackScratch_) {
      stackId = entry->second;
      break;
    }
  }
  if (stackId == stacks_.size()) {
    stacks_.push_back(stackScratch_);
    stackIndex_.emplace(hash, stackId);
  }

  samples_.push_back({getDurationNs(startTimestamp_, backtrace.absoluteTimestamp), threadId, std::move(queueKey), stackId});
}

bool DozidiProfilePayload::hasSampleOfThread(std::uint64_t threadId) const {
  for (const Sample& sample : samples_) {
    if (sample.threadId == threadId) return true;
  }
  return false;
}

foundation::Dictionary DozidiProfilePayload::serialize() const {
  std::vector<foundation::Value> samples;
  samples.reserve(samples_.size());
  for (const Sample& sample : samples_) {
    foundation::Dictionary entry{{"elapsed_since_start_ns", std::to_string(sample.elapsedNs)},
                                 {"thread_id", std::to_string(sample.threadId)}};
    if (sample.queueKey) entry.set("queue_address", *sample.queueKey);
    entry.set("stack_id", static_cast<std::uint64_t>(sample.stackId));
    samples.emplace_back(std::move(entry));
  }
  std::vector<foundation::Value> stacks;
  stacks.reserve(stacks_.size());
  for (const auto& stack : stacks_) {
    std::vector<foundation::Value> indexes;
    indexes.reserve(stack.size());
    for (std::size_t index : stack) indexes.emplace_back(static_cast<std::uint64_t>(index));
    stacks.emplace_back(foundation::Array(std::move(indexes)));
  }
  std::vector<foundation::Value> frames;
  frames.reserve(frames_.size());
  for (const std::string& frame : frames_) frames.emplace_back(foundation::Dictionary{{"instruction_addr", frame}});
  foundation::Dictionary threads;
  for (const ThreadEntry& thread : threads_) {
    foundation::Dictionary entry;
    if (thread.name) entry.set("name", *thread.name);
    if (thread.priority) entry.set("priority", static_cast<std::int64_t>(*thread.priority));
    threads.set(thread.key, std::move(entry));
  }
  foundation::Dictionary queues;
  for (const auto& [key, label] : queues_) queues.set(key, foundation::Dictionary{{"label", label}});
  return foundation::Dictionary{{"samples", foundation::Array(std::move(samples))},
                                {"stacks", foundation::Array(std::move(stacks))},
                                {"frames", foundation::Array(std::move(frames))},
                                {"thread_metadata", std::move(threads)},
                                {"queue_metadata", std::move(queues)}};
}
