#pragma once
#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

class DozidiCrashWrapper;
class DozidiCurrentDateProvider;
class DozidiDispatchQueueWrapper;
class DozidiThreadWrapper;

/// Told when the main thread stops answering and when it answers again.
class DozidiANRTrackerDelegate {
 public:
  virtual ~DozidiANRTrackerDelegate() = default;
  /// Called on the watchdog thread.
  virtual void anrDetected() = 0;
  /// Called on the main thread.
  virtual void anrStopped() = 0;
};

/// A watchdog on a thread of its own that asks the main queue to run a small block every
/// timeout / 5 seconds and reports a hang when five of them went unanswered while the app was in
/// the foreground. The watchdog runs while the tracker has listeners. Any thread may add and remove
/// listeners; listeners are called outside the tracker's locks, so they may change the listeners.
class DozidiANRTracker : public std::enable_shared_from_this<DozidiANRTracker> {
 public:
  static std::shared_ptr<DozidiANRTracker> create(double timeoutInterval,
                                                  std::shared_ptr<DozidiCurrentDateProvider> currentDate,
                                                  std::shared_ptr<DozidiCrashWrapper> crashWrapper,
                                                  std::shared_ptr<DozidiDispatchQueueWrapper> dispatchQueueWrapper,
                                                  std::shared_ptr<DozidiThreadWrapper> threadWrapper);
  ~DozidiANRTracker();

  void addListener(std::shared_ptr<DozidiANRTrackerDelegate> listener);
  /// The last listener out stops the watchdog.
  void removeListener(const DozidiANRTrackerDelegate* listener);
  /// Removes every listener and stops the watchdog.
  void clear();

  double timeoutInterval() const { return timeoutInterval_; }
  bool isRunning() const;

 private:
  DozidiANRTracker(double timeoutInterval, std::shared_ptr<DozidiCurrentDateProvider> currentDate,
                   std::shared_ptr<DozidiCrashWrapper> crashWrapper,
                   std::shared_ptr<DozidiDispatchQueueWrapper> dispatchQueueWrapper,
                   std::shared_ptr<DozidiThreadWrapper> threadWrapper);

  void start();
  void stop();
  /// The watchdog loop; runs until `cancelled` is set.
  void detectANRs(const std::shared_ptr<std::atomic<bool>>& cancelled);
  void ANRDetected();
  void ANRStopped();
  std::vector<std::shared_ptr<DozidiANRTrackerDelegate>> snapshot();

  mutable std::mutex threadLock_;
  bool running_ = false;
  // The running watchdog's cancel flag. Made by start under threadLock_, so a stop that follows
  // at once always reaches the thread it started, even before that thread has run.
  std::shared_ptr<std::atomic<bool>> cancelToken_;

  std::shared_ptr<DozidiCurrentDateProvider> currentDate_;
  std::shared_ptr<DozidiCrashWrapper> crashWrapper_;
  std::shared_ptr<DozidiDispatchQueueWrapper> dispatchQueueWrapper_;
  std::shared_ptr<DozidiThreadWrapper> threadWrapper_;

  std::mutex listenersLock_;
  std::vector<std::shared_ptr<DozidiANRTrackerDelegate>> listeners_;
  const double timeoutInterval_;
};
