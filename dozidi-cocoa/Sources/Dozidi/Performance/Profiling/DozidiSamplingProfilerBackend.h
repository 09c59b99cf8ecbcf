#pragma once
// Profiles for the tracer: a registry ties the root spans of transactions to profiling runs, so
// that overlapping transactions share one run; a run samples every thread at 101 Hz until its
// last span finishes, a timeout passes or the app resigns active, and sends one "profile"
// envelope once each of its transactions was linked or dropped.
#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiProfiler.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/Profiling/DozidiSamplingProfiler.h"
#include "platform/foundation/Value.h"

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class DozidiDebugMeta;
class DozidiDispatchBlock;
class DozidiDispatchQueueWrapper;
class DozidiNSNotificationCenterWrapper;
class DozidiProfileRun;

/// What samples a run: the real sampler, or a test's stand-in.
class DozidiProfileSampler {
 public:
  virtual ~DozidiProfileSampler() = default;
  virtual void startSampling() = 0;
  virtual void stopSampling() = 0;
  virtual bool isSampling() = 0;
};

/// The services a backend uses; each missing one is taken from the reporter's shared container.
struct DozidiProfilingServices {
  std::shared_ptr<DozidiDispatchQueueWrapper> queue;  // runs the timeout
  std::shared_ptr<DozidiNSNotificationCenterWrapper> notifications;
  std::function<std::shared_ptr<DozidiProfileSampler>(dozidi::profiling::SamplingProfiler::Callback)> makeSampler;
  std::function<std::vector<std::shared_ptr<DozidiDebugMeta>>()> debugImages;
  double timeoutInterval = 30.0;
};

class DozidiSamplingProfilerBackend final : public DozidiProfilerBackend,
                                            public std::enable_shared_from_this<DozidiSamplingProfilerBackend> {
 public:
  static std::shared_ptr<DozidiSamplingProfilerBackend> create(DozidiProfilingServices services = {});
  /// Makes a backend with the shared services and installs it as the tracer's profiler, unless
  /// one is installed already.
  static void install();
  ~DozidiSamplingProfilerBackend() override;

  void startForSpanID(const DozidiSpanId& spanId, const std::shared_ptr<DozidiHub>& hub) override;
  void stopProfilingSpan(const DozidiSpanId& spanId) override;
  void linkTransaction(const DozidiTransaction& transaction) override;
  void dropTransaction(const DozidiSpanId& spanId) override;

  bool isRunning();
  void timeoutAbort();
  void backgroundAbort();

  /// The payload a run would send, built as the envelope is; none when the run sends nothing.
  /// Exposed for the envelope's tests.
  static std::optional<foundation::Dictionary> buildPayload(DozidiProfileRun& run, std::string* profileId);

 private:
  explicit DozidiSamplingProfilerBackend(DozidiProfilingServices services);
  void stopLocked(int reason);
  void abortCurrent(int reason);
  void captureEnvelopeIfFinished(std::shared_ptr<DozidiProfileRun> run, const std::string& spanId);

  DozidiProfilingServices services_;
  std::mutex lock_;
  std::shared_ptr<DozidiProfileRun> current_;
  std::map<std::string, std::shared_ptr<DozidiProfileRun>> runsBySpanId_;
};
