#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace dispatch {
class DispatchQueue;
}
namespace foundation {
class URL;
}

/// The bit of a reachability report that says the network can be reached.
inline constexpr std::uint32_t kDozidiReachabilityFlagsReachable = 0x2;
/// The stored flags before any report: every bit set, the reachable bit included.
inline constexpr std::uint32_t kDozidiReachabilityFlagsUnknown = 0xFFFFFFFF;

/// A watch on the network for one host. Once scheduled it reports the reachability flags on the
/// given queue: first the state it finds, then the state after each change it notices (a report
/// may repeat the previous flags).
class DozidiReachabilityTarget {
 public:
  using Callback = std::function<void(std::uint32_t flags)>;
  virtual ~DozidiReachabilityTarget() = default;

  /// Starts reporting to `callback` on `queue`.
  virtual void schedule(Callback callback, std::shared_ptr<dispatch::DispatchQueue> queue) = 0;
  /// Stops reporting. Reports still queued are dropped; no new report starts after this returns.
  /// Must not be called from inside a report.
  virtual void unschedule() = 0;
};

/// Tells its observers when the device loses its network connection and when it gets it back.
///
/// The observer table and the last reported flags are process-wide, behind one lock: every
/// instance's reports go to the same handler, and each transition of the reachable bit after the
/// first report reaches every registered callback, on the queue "io.dozidi.cocoa.connectivity".
/// The callbacks run on a copy of the table, outside the lock, so a callback may register or stop.
/// Each instance owns its one target: a new `monitorURL` stops and releases the previous one, and
/// `stopMonitoring` stops only the instance's own.
class DozidiReachability {
 public:
  /// (connected, "wifi" when connected else "none").
  using Callback = std::function<void(bool connected, const std::string& typeDescription)>;
  /// Makes the target that watches `host`.
  using TargetFactory = std::function<std::unique_ptr<DozidiReachabilityTarget>(const std::string& host)>;

  /// Watches the system's network (route and link changes of the kernel).
  static std::shared_ptr<DozidiReachability> create();
  /// Watches through the targets `makeTarget` returns; tests drive their own.
  static std::shared_ptr<DozidiReachability> create(TargetFactory makeTarget);
  /// Stops monitoring.
  ~DozidiReachability();
  DozidiReachability(const DozidiReachability&) = delete;
  DozidiReachability& operator=(const DozidiReachability&) = delete;

  /// Registers `callback` under this instance's key (replacing its earlier one) and, when `url`
  /// has a host, watches that host. A URL without a host registers the callback and watches
  /// nothing.
  void monitorURL(const foundation::URL& url, Callback callback);
  /// Removes this instance's callback, stops and releases its target, and forgets the last
  /// flags, so that the next report sets the baseline again.
  void stopMonitoring();
  /// The instance's key in the observer table, unique among live instances.
  std::string keyForInstance() const;

  /// The serial queue on which reports and callbacks run.
  static std::shared_ptr<dispatch::DispatchQueue> connectivityQueue();

 private:
  explicit DozidiReachability(TargetFactory makeTarget);

  TargetFactory makeTarget_;
  std::mutex targetLock_;
  std::unique_ptr<DozidiReachabilityTarget> target_;
};
