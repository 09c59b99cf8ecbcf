#pragma once
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class DozidiEvent;

/// A step every prepared event passes: returns the event to go on with, or none to drop it.
using DozidiEventProcessor = std::function<std::shared_ptr<DozidiEvent>(std::shared_ptr<DozidiEvent>)>;

/// The process-wide ordered list of event processors the client runs after the scope and before
/// the options' before-send step. Processors may be added while other threads prepare events: the
/// list is behind a lock and readers get a copy, so a running chain never sees the list change.
class DozidiGlobalEventProcessor {
 public:
  static DozidiGlobalEventProcessor& shared();

  void addEventProcessor(DozidiEventProcessor processor);
  void removeAllProcessors();
  /// A copy of the list, in the order of adding.
  std::vector<DozidiEventProcessor> processors() const;
  /// Feeds `event` through every processor in order; none as soon as one drops it.
  std::shared_ptr<DozidiEvent> reportAll(std::shared_ptr<DozidiEvent> event) const;

 private:
  DozidiGlobalEventProcessor() = default;
  mutable std::mutex lock_;
  std::vector<DozidiEventProcessor> processors_;
};
