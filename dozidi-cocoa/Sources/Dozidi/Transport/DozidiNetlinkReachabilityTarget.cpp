#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiNetlinkReachabilityTarget.h"

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiLog.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/dispatch/Thread.h"
#include "platform/foundation/SystemCalls.h"

// The callback and queue of one scheduled watch. Reports check `active` when they run, so a
// report queued before `unschedule` does nothing afterwards.
struct DozidiNetlinkReachabilityTarget::Delivery {
  std::mutex lock;
  bool active = true;
  Callback callback;
  std::shared_ptr<dispatch::DispatchQueue> queue;

  static void post(const std::shared_ptr<Delivery>& delivery, std::uint32_t flags) {
    std::shared_ptr<dispatch::DispatchQueue> queue;
    {
      std::lock_guard guard(delivery->lock);
      if (!delivery->active) return;
      queue = delivery->queue;
    }
    queue->async([delivery, flags] {
      Callback callback;
      {
        std::lock_guard guard(delivery->lock);
        if (!delivery->active) return;
        callback = delivery->callback;
      }
      if (callback) callback(flags);
    });
  }
};

namespace {

constexpr std::size_t kReceiveBufferSize = 64 * 1024;

// Asks the kernel for every object of one kind (links or routes) and hands each answer to
// `visit`. False when the kernel could not be asked or answered with an error.
template <typename Visit>
bool dump(std::uint16_t type, Visit visit) {
  foundation::FileDescriptor fd(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE));
  if (fd.get() < 0) return false;
  struct {
    nlmsghdr header;
    rtgenmsg body;
  } request{};
  request.header.nlmsg_len = NLMSG_LENGTH(sizeof(rtgenmsg));
  request.header.nlmsg_type = type;
  request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
  request.header.nlmsg_seq = 1;
  request.body.rtgen_family = AF_UNSPEC;
  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  if (::sendto(fd.get(), &request, request.header.nlmsg_len, 0, reinterpret_cast<sockaddr*>(&kernel),
               sizeof kernel) < 0) {
    return false;
  }
  std::vector<char> buffer(kReceiveBufferSize);
  for (;;) {
    const auto received =
        foundation::retryOnInterrupt([&] { return ::recv(fd.get(), buffer.data(), buffer.size(), 0); });
    if (received <= 0) return false;
    auto length = static_cast<unsigned int>(received);
    for (auto* message = reinterpret_cast<nlmsghdr*>(buffer.data()); NLMSG_OK(message, length);
         message = NLMSG_NEXT(message, length)) {
      if (message->nlmsg_type == NLMSG_DONE) return true;
      if (message->nlmsg_type == NLMSG_ERROR) return false;
      visit(message);
    }
  }
}

// The flags of the network: reachable while some default route leaves through a link that is up,
// running and not the loopback, on a next hop the kernel does not mark dead or without carrier.
std::optional<std::uint32_t> queryFlags() {
  std::map<int, unsigned int> linkFlags;
  const bool linksRead = dump(RTM_GETLINK, [&](const nlmsghdr* message) {
    if (message->nlmsg_type != RTM_NEWLINK || message->nlmsg_len < NLMSG_LENGTH(sizeof(ifinfomsg))) return;
    const auto* link = static_cast<const ifinfomsg*>(NLMSG_DATA(message));
    linkFlags[link->ifi_index] = link->ifi_flags;
  });
  if (!linksRead) return std::nullopt;
  const auto usable = [&](int index, unsigned int nextHopFlags) {
    if (nextHopFlags & (RTNH_F_DEAD | RTNH_F_LINKDOWN)) return false;
    const auto found = linkFlags.find(index);
    if (found == linkFlags.end()) return false;
    const auto flags = found->second;
    return (flags & IFF_UP) && (flags & IFF_RUNNING) && !(flags & IFF_LOOPBACK);
  };
  bool reachable = false;
  const bool routesRead = dump(RTM_GETROUTE, [&](const nlmsghdr* message) {
    if (reachable || message->nlmsg_type != RTM_NEWROUTE || message->nlmsg_len < NLMSG_LENGTH(sizeof(rtmsg))) {
      return;
    }
    const auto* route = static_cast<const rtmsg*>(NLMSG_DATA(message));
    if (route->rtm_dst_len != 0 || route->rtm_type != RTN_UNICAST || route->rtm_table == RT_TABLE_LOCAL) return;
    auto length = static_cast<int>(RTM_PAYLOAD(message));
    for (auto* attribute = RTM_RTA(route); RTA_OK(attribute, length); attribute = RTA_NEXT(attribute, length)) {
      if (attribute->rta_type == RTA_OIF && RTA_PAYLOAD(attribute) >= sizeof(int)) {
        int index = 0;
        std::memcpy(&index, RTA_DATA(attribute), sizeof index);
        if (usable(index, route->rtm_flags)) reachable = true;
      } else if (attribute->rta_type == RTA_MULTIPATH) {
        auto remaining = static_cast<int>(RTA_PAYLOAD(attribute));
        for (auto* hop = static_cast<const rtnexthop*>(RTA_DATA(attribute));
             remaining >= static_cast<int>(sizeof(rtnexthop)) && hop->rtnh_len >= sizeof(rtnexthop) &&
             hop->rtnh_len <= remaining;
             remaining -= RTNH_ALIGN(hop->rtnh_len), hop = RTNH_NEXT(hop)) {
          if (usable(hop->rtnh_ifindex, hop->rtnh_flags | route->rtm_flags)) reachable = true;
        }
      }
    }
  });
  if (!routesRead) return std::nullopt;
  return reachable ? kDozidiReachabilityFlagsReachable : 0u;
}

// Reads everything waiting on the event socket; the messages only say that something changed.
// False when the socket failed for good.
bool drain(int eventSocket) {
  std::vector<char> buffer(kReceiveBufferSize);
  for (;;) {
    const auto received =
        foundation::retryOnInterrupt([&] { return ::recv(eventSocket, buffer.data(), buffer.size(), MSG_DONTWAIT); });
    if (received > 0) continue;
    if (received < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
    // The kernel dropped events for a full buffer: the state is asked afresh anyway.
    if (received < 0 && errno == ENOBUFS) continue;
    return false;
  }
}

}  // namespace

std::unique_ptr<DozidiNetlinkReachabilityTarget> DozidiNetlinkReachabilityTarget::create(std::string host) {
  return std::unique_ptr<DozidiNetlinkReachabilityTarget>(new DozidiNetlinkReachabilityTarget(std::move(host)));
}

DozidiNetlinkReachabilityTarget::~DozidiNetlinkReachabilityTarget() { unschedule(); }

std::optional<std::uint32_t> DozidiNetlinkReachabilityTarget::currentFlags() { return queryFlags(); }

void DozidiNetlinkReachabilityTarget::schedule(Callback callback, std::shared_ptr<dispatch::DispatchQueue> queue) {
  unschedule();
  auto delivery = std::make_shared<Delivery>();
  delivery->callback = std::move(callback);
  delivery->queue = std::move(queue);
  delivery_ = delivery;

  // Subscribe before the first look, so that no change falls between the two.
  eventSocket_ = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
  sockaddr_nl groups{};
  groups.nl_family = AF_NETLINK;
  groups.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_ROUTE;
  wakeup_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (eventSocket_ < 0 || wakeup_ < 0 ||
      ::bind(eventSocket_, reinterpret_cast<sockaddr*>(&groups), sizeof groups) != 0) {
    DOZIDI_LOG_WARN("Cannot watch the network for " + host_ + ": " + std::strerror(errno) +
                    ". Assuming it is reachable.");
    Delivery::post(delivery, kDozidiReachabilityFlagsReachable);
    return;
  }
  watcher_ = dispatch::startThread("dozidi-netlink", [delivery, eventSocket = eventSocket_, wakeup = wakeup_] {
    std::optional<std::uint32_t> reported;
    const auto report = [&] {
      const auto flags = queryFlags().value_or(kDozidiReachabilityFlagsReachable);
      if (reported == flags) return;
      reported = flags;
      Delivery::post(delivery, flags);
    };
    report();
    for (;;) {
      pollfd waits[2] = {{eventSocket, POLLIN, 0}, {wakeup, POLLIN, 0}};
      const int ready = foundation::retryOnInterrupt([&] { return ::poll(waits, 2, -1); });
      if (ready < 0 || waits[1].revents != 0) return;
      if (waits[0].revents & (POLLERR | POLLHUP | POLLNVAL)) {
        // An overflowed socket reports an error once; the state is asked afresh.
        if (!drain(eventSocket)) return;
      }
      if (waits[0].revents & POLLIN) {
        if (!drain(eventSocket)) return;
      }
      report();
    }
  });
}

void DozidiNetlinkReachabilityTarget::unschedule() {
  if (delivery_) {
    std::lock_guard guard(delivery_->lock);
    delivery_->active = false;
    delivery_->callback = nullptr;
  }
  delivery_.reset();
  if (watcher_.joinable()) {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(wakeup_, &one, sizeof one);
    watcher_.join();
  }
  if (eventSocket_ >= 0) ::close(eventSocket_);
  if (wakeup_ >= 0) ::close(wakeup_);
  eventSocket_ = -1;
  wakeup_ = -1;
}
