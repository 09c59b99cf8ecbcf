#pragma once
// The object runtime's exception: a name, a reason, a user-info dictionary and the return
// addresses of the code that raised it. Raising throws it as a C++ exception; when nothing
// catches it, the runtime calls the uncaught-exception handler before the process ends.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/foundation/Value.h"

namespace runtime {

class NSException {
 public:
  NSException(std::string name, std::string reason, foundation::Dictionary userInfo = {});

  const std::string& name() const { return name_; }
  const std::string& reason() const { return reason_; }
  const foundation::Dictionary& userInfo() const { return userInfo_; }
  /// Filled when the exception is raised.
  const std::vector<std::uintptr_t>& callStackReturnAddresses() const { return callStackReturnAddresses_; }

  /// Records the caller's return addresses and throws the exception.
  [[noreturn]] void raise();

 private:
  std::string name_;
  std::string reason_;
  foundation::Dictionary userInfo_;
  std::vector<std::uintptr_t> callStackReturnAddresses_;
};

/// Called with an exception that nothing caught, just before the process ends.
using NSUncaughtExceptionHandler = void(NSException* exception);

NSUncaughtExceptionHandler* NSGetUncaughtExceptionHandler();
void NSSetUncaughtExceptionHandler(NSUncaughtExceptionHandler* handler);

}  // namespace runtime
