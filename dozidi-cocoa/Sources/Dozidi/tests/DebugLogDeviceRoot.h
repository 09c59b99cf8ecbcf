#pragma once
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiLog.h"
#include "platform/foundation/tests/TemporaryDeviceRoot.h"

/// A temporary device root for each test, with the reporter's diagnostic log at debug level
/// during the test and back at error level after it.
class DebugLogDeviceRoot : public foundation::test_support::TemporaryDeviceRoot {
 protected:
  void SetUp() override {
    TemporaryDeviceRoot::SetUp();
    DozidiLog::configure(true, DozidiEventLevel::Debug);
  }
  void TearDown() override {
    DozidiLog::configure(true, DozidiEventLevel::Error);
    TemporaryDeviceRoot::TearDown();
  }
};
