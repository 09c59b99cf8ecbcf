#pragma once
// Drives the banner library's queue with the main queue on a manual clock, as the run loop would.

#include "MessageBanners/MessageBanners.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/MainRunLoop.h"

namespace fendrel::test_support {

/// Runs the main queue and the banner queue in 50-ms steps of `clock` until the clock reads `end`.
inline void runBannersUntil(dispatch::ManualClock& clock, double end) {
  auto banners = MessageBanners::MessageBanners::sharedInstance();
  while (true) {
    // A count waits for the banner queue's earlier work (it asks on that queue); twice, as work on
    // the main queue can queue more there.
    (void)banners->count("");
    dispatch::drainMainQueue();
    (void)banners->count("");
    dispatch::drainMainQueue();
    if (dispatch::Clock::current().uptime() >= end) break;
    clock.advance(0.05);
  }
}

}  // namespace fendrel::test_support
