#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiReachability.h"

/// Watches the machine's network through the kernel's route and link events (rtnetlink). Linux
/// does not say whether one host can be reached, so the host only names the watch: the network
/// counts as reachable while a default route leaves through an interface that is up, running and
/// not the loopback. A thread of its own waits for the events; the reports go to the queue.
/// When the kernel's events cannot be had, one report says reachable, so that delivery is tried.
class DozidiNetlinkReachabilityTarget final : public DozidiReachabilityTarget {
 public:
  static std::unique_ptr<DozidiNetlinkReachabilityTarget> create(std::string host);
  ~DozidiNetlinkReachabilityTarget() override;

  void schedule(Callback callback, std::shared_ptr<dispatch::DispatchQueue> queue) override;
  void unschedule() override;

  /// The flags of the network as the kernel describes it now; none when it cannot be asked.
  static std::optional<std::uint32_t> currentFlags();

  struct Delivery;

 private:
  explicit DozidiNetlinkReachabilityTarget(std::string host) : host_(std::move(host)) {}

  std::string host_;
  std::shared_ptr<Delivery> delivery_;
  int eventSocket_ = -1;
  int wakeup_ = -1;
  std::thread watcher_;
};
