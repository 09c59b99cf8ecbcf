#pragma once
#include <functional>
#include <memory>

class DozidiHub;
class DozidiSpanId;
class DozidiTransaction;

/// What runs a profile for the tracer: started for a transaction's root span, stopped when the
/// transaction ends, then linked to the transaction sent or dropped with the one not sent.
class DozidiProfilerBackend {
 public:
  virtual ~DozidiProfilerBackend() = default;
  virtual void startForSpanID(const DozidiSpanId& spanId, const std::shared_ptr<DozidiHub>& hub) = 0;
  virtual void stopProfilingSpan(const DozidiSpanId& spanId) = 0;
  virtual void linkTransaction(const DozidiTransaction& transaction) = 0;
  /// The transaction of root span `spanId` will not be sent: its profile goes too.
  virtual void dropTransaction(const DozidiSpanId& spanId) = 0;
};

/// The tracer's way to the profiler. Without a backend (until the sampling profiler is built)
/// every call does nothing and no profile runs. Any thread may call it.
class DozidiProfiler {
 public:
  DozidiProfiler() = delete;

  static void startForSpanID(const DozidiSpanId& spanId, const std::shared_ptr<DozidiHub>& hub);
  static void stopProfilingSpan(const DozidiSpanId& spanId);
  static void linkTransaction(const DozidiTransaction& transaction);
  static void dropTransaction(const DozidiSpanId& spanId);

  /// Whether a profile runs now: one atomic read, so the display-link callback never waits on
  /// the profiler's lock.
  static bool isRunning();
  /// Set by the backend as its profile starts and stops.
  static void setRunning(bool running);
  /// Installs the backend; none removes it.
  static void setBackend(std::shared_ptr<DozidiProfilerBackend> backend);
  /// Installs the backend `make` returns unless one is installed; `make` runs at most once.
  static void setBackendIfNone(const std::function<std::shared_ptr<DozidiProfilerBackend>()>& make);
};
