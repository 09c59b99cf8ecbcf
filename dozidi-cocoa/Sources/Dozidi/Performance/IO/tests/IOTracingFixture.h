#pragma once
// A traced hub made current, with one tracing integration installed for each test.
#include <memory>

#include "../../tests/PerformanceTracerFixture.h"
#include "dozidi-cocoa/Sources/Dozidi/Scope/DozidiScope.h"

namespace performance_test {

template <class Integration>
class IOTracingFixture : public TracerFixture {
 protected:
  /// `enable` turns on the integration's own option.
  void install(bool DozidiOptions::*enable) {
    DozidiSDK::setCurrentHub(hub);
    (*options).*enable = true;
    ASSERT_TRUE(integration.installWithOptions(*options));
  }
  void TearDown() override {
    integration.uninstall();
    // The bound transaction holds the hub, which holds the scope: unbinding breaks the cycle.
    hub->scope()->setSpan(nullptr);
    DozidiSDK::setCurrentHub(nullptr);
    TracerFixture::TearDown();
  }
  /// A transaction bound to the scope: the parent of the spans under test.
  std::shared_ptr<DozidiTracer> bindTransaction() {
    auto transaction = start();
    hub->scope()->setSpan(transaction);
    return transaction;
  }

  Integration integration;
};

}  // namespace performance_test
