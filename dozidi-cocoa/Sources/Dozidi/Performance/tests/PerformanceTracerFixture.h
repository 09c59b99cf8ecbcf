#pragma once
// A hub over a recording transport with tracing on, the test clock and a manual queue wrapper.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "PerformanceTestKit.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiClient.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiHub.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiOptions.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiSDK.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiTracer.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiTransportAdapter.h"
#include "platform/foundation/JSONSerialization.h"
#include "platform/foundation/tests/TemporaryDeviceRoot.h"

namespace performance_test {

inline constexpr const char* kPublicKey = "0123456789abcdef0123456789abcdef";

class TracerFixture : public foundation::test_support::TemporaryDeviceRoot {
 protected:
  void SetUp() override {
    TemporaryDeviceRoot::SetUp();
    options = DozidiOptions::create();
    options->setDsn(std::string("https://") + kPublicKey + "@127.0.0.1:9/42");
    options->setTracesSampleRate(1.0);
    options->releaseName = "app@1.0";
    transport = std::make_shared<RecordingTransport>();
    DozidiClient::Parts parts;
    parts.transportAdapter = std::make_shared<DozidiTransportAdapter>(transport, options);
    hub = DozidiHub::initWithClient(DozidiClient::initWithOptions(options, parts), nullptr);
    queue = std::make_shared<ManualQueueWrapper>(clock.provider());
    DozidiTracer::resetAppStartMeasurementRead();
    DozidiSDK::setAppStartMeasurement(nullptr);
  }

  /// A sampled transaction on the hub: plain, waiting for children, or idle.
  std::shared_ptr<DozidiTracer> start(const std::string& operation = "op", bool waitForChildren = false) {
    auto context = DozidiTransactionContext::initWithName("name", operation, DozidiSampleDecision::Yes);
    return DozidiTracer::initWithTransactionContext(context, hub, waitForChildren);
  }
  std::shared_ptr<DozidiTracer> startIdle(double idleTimeout = 3.0) {
    auto context = DozidiTransactionContext::initWithName("idle", "ui.action", DozidiSampleDecision::Yes);
    return DozidiTracer::initWithTransactionContext(context, hub, std::nullopt, idleTimeout, queue);
  }

  /// The payloads of every "transaction" item sent so far.
  std::vector<foundation::Dictionary> sentTransactions() {
    std::vector<foundation::Dictionary> result;
    for (const auto& envelope : transport->envelopes()) {
      for (const auto& item : envelope->items()) {
        if (item->header().type != "transaction") continue;
        auto parsed = foundation::JSONSerialization::JSONObjectWithData(item->data().view());
        if (parsed.ok() && parsed->dictionary()) result.push_back(*parsed->dictionary());
      }
    }
    return result;
  }

  ScopedTestClock clock;
  std::shared_ptr<DozidiOptions> options;
  std::shared_ptr<RecordingTransport> transport;
  std::shared_ptr<DozidiHub> hub;
  std::shared_ptr<ManualQueueWrapper> queue;
};

}  // namespace performance_test
