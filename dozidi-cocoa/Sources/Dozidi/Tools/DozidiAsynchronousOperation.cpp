#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiAsynchronousOperation.h"

void DozidiAsynchronousOperation::start() {
  if (isCancelled()) {
    setFinished(true);
    return;
  }
  setExecuting(true);
  main();
}

void DozidiAsynchronousOperation::cancel() {
  setExecuting(false);
  setFinished(true);
  setCancelled(true);
}

void DozidiAsynchronousOperation::completeOperation() {
  setExecuting(false);
  setFinished(true);
}

bool DozidiAsynchronousOperation::isExecuting() const {
  std::lock_guard lock(lock_);
  return executing_;
}

bool DozidiAsynchronousOperation::isFinished() const {
  std::lock_guard lock(lock_);
  return finished_;
}

bool DozidiAsynchronousOperation::isCancelled() const {
  std::lock_guard lock(lock_);
  return cancelled_;
}

void DozidiAsynchronousOperation::setExecuting(bool executing) {
  if (isExecuting() == executing) return;
  willChangeValue("isExecuting");
  {
    std::lock_guard lock(lock_);
    executing_ = executing;
  }
  didChangeValue("isExecuting");
}

void DozidiAsynchronousOperation::setCancelled(bool cancelled) {
  if (isCancelled() == cancelled) return;
  willChangeValue("isCancelled");
  {
    std::lock_guard lock(lock_);
    cancelled_ = cancelled;
  }
  didChangeValue("isCancelled");
}

void DozidiAsynchronousOperation::setFinished(bool finished) {
  willChangeValue("isFinished");
  {
    std::lock_guard lock(lock_);
    finished_ = finished;
  }
  didChangeValue("isFinished");
}
