#pragma once
#include <memory>

class DozidiAppStateManager;
class DozidiDispatchQueueWrapper;
class DozidiEvent;
class DozidiFileManager;
class DozidiOptions;
class DozidiOutOfMemoryLogic;

/// At SDK start, asks the out-of-memory logic about the previous run on its own queue and, when
/// it was most likely killed for its memory, sends a fatal "OutOfMemory" crash event with the
/// previous run's breadcrumbs.
class DozidiOutOfMemoryTracker : public std::enable_shared_from_this<DozidiOutOfMemoryTracker> {
 public:
  DozidiOutOfMemoryTracker(std::shared_ptr<const DozidiOptions> options, std::shared_ptr<DozidiOutOfMemoryLogic> logic,
                           std::shared_ptr<DozidiAppStateManager> appStateManager,
                           std::shared_ptr<DozidiDispatchQueueWrapper> dispatchQueue,
                           std::shared_ptr<DozidiFileManager> fileManager);

  /// Starts the app state manager, then queues the check.
  void start();
  /// Stops the app state manager.
  void stop();

  /// The event for a previous run ended by the system, from that run's breadcrumbs.
  std::shared_ptr<DozidiEvent> outOfMemoryEvent();

 private:
  std::shared_ptr<const DozidiOptions> options_;
  std::shared_ptr<DozidiOutOfMemoryLogic> outOfMemoryLogic_;
  std::shared_ptr<DozidiDispatchQueueWrapper> dispatchQueue_;
  std::shared_ptr<DozidiAppStateManager> appStateManager_;
  std::shared_ptr<DozidiFileManager> fileManager_;
};
