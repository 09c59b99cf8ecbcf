#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiProfiler.h"

#include <atomic>
#include <mutex>

namespace {

std::atomic<bool> gRunning{false};

std::mutex& backendLock() {
  static std::mutex lock;
  return lock;
}

std::shared_ptr<DozidiProfilerBackend>& backendSlot() {
  static std::shared_ptr<DozidiProfilerBackend> backend;
  return backend;
}

std::shared_ptr<DozidiProfilerBackend> backend() {
  std::lock_guard lock(backendLock());
  return backendSlot();
}

}  // namespace

void DozidiProfiler::startForSpanID(const DozidiSpanId& spanId, const std::shared_ptr<DozidiHub>& hub) {
  if (auto b = backend()) b->startForSpanID(spanId, hub);
}

void DozidiProfiler::stopProfilingSpan(const DozidiSpanId& spanId) {
  if (auto b = backend()) b->stopProfilingSpan(spanId);
}

void DozidiProfiler::linkTransaction(const DozidiTransaction& transaction) {
  if (auto b = backend()) b->linkTransaction(transaction);
}

void DozidiProfiler::dropTransaction(const DozidiSpanId& spanId) {
  if (auto b = backend()) b->dropTransaction(spanId);
}

bool DozidiProfiler::isRunning() { return gRunning.load(std::memory_order_acquire); }

void DozidiProfiler::setRunning(bool running) { gRunning.store(running, std::memory_order_release); }

void DozidiProfiler::setBackend(std::shared_ptr<DozidiProfilerBackend> backend) {
  std::lock_guard lock(backendLock());
  backendSlot() = std::move(backend);
}

void DozidiProfiler::setBackendIfNone(const std::function<std::shared_ptr<DozidiProfilerBackend>()>& make) {
  std::lock_guard lock(backendLock());
  if (!backendSlot()) backendSlot() = make();
}
