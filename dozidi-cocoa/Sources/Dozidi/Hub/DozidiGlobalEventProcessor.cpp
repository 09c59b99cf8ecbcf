#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiGlobalEventProcessor.h"

DozidiGlobalEventProcessor& DozidiGlobalEventProcessor::shared() {
  static auto* instance = new DozidiGlobalEventProcessor();
  return *instance;
}

void DozidiGlobalEventProcessor::addEventProcessor(DozidiEventProcessor processor) {
  if (!processor) return;
  std::lock_guard lock(lock_);
  processors_.push_back(std::move(processor));
}

void DozidiGlobalEventProcessor::removeAllProcessors() {
  std::lock_guard lock(lock_);
  processors_.clear();
}

std::vector<DozidiEventProcessor> DozidiGlobalEventProcessor::processors() const {
  std::lock_guard lock(lock_);
  return processors_;
}

std::shared_ptr<DozidiEvent> DozidiGlobalEventProcessor::reportAll(std::shared_ptr<DozidiEvent> event) const {
  // The processors run on a copy, outside the lock: a processor may add processors or take long.
  for (const auto& processor : processors()) {
    if (!event) break;
    event = processor(std::move(event));
  }
  return event;
}
