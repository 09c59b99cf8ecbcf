#pragma once
// A tracer fixture whose hub is the SDK's current hub, as the automatic instrumentation finds it,
// with helpers to read the sent transactions' spans.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiSDK.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/tests/PerformanceTracerFixture.h"
#include "dozidi-cocoa/Sources/Dozidi/Scope/DozidiScope.h"

namespace performance_test {

class UIKitTrackingFixture : public TracerFixture {
 protected:
  void SetUp() override {
    TracerFixture::SetUp();
    DozidiSDK::setCurrentHub(hub);
  }
  void TearDown() override {
    // Transactions a test left open: the scope lets go of its bound one, and pending idle timers
    // run, so that nothing keeps the hub alive.
    hub->scope()->setSpan(nullptr);
    queue->advance(1000.0);
    DozidiSDK::setCurrentHub(nullptr);
    TracerFixture::TearDown();
  }

  /// The sent transaction of that name; an empty dictionary when none was sent.
  foundation::Dictionary sentTransaction(const std::string& name) {
    for (auto& sent : sentTransactions()) {
      if (sent["transaction"].asString() == name) return sent;
    }
    return {};
  }
  /// The description of each span of a sent transaction, in order.
  static std::vector<std::string> spanDescriptions(foundation::Dictionary transaction) {
    std::vector<std::string> result;
    if (const auto* spans = transaction["spans"].array()) {
      for (const auto& span : *spans) result.push_back(span["description"].asString().value_or(""));
    }
    return result;
  }
  /// The span of a sent transaction with that description; an empty dictionary when none.
  static foundation::Dictionary span(foundation::Dictionary transaction, const std::string& description) {
    if (const auto* spans = transaction["spans"].array()) {
      for (const auto& candidate : *spans) {
        if (candidate["description"].asString() == description && candidate.dictionary()) return *candidate.dictionary();
      }
    }
    return {};
  }
};

}  // namespace performance_test
