#include "platform/runtime/NSException.h"

#include <execinfo.h>

#include <atomic>
#include <exception>
#include <typeinfo>
#include <cxxabi.h>

namespace runtime {

namespace {

constexpr int kMaxReturnAddresses = 128;

std::atomic<NSUncaughtExceptionHandler*> g_uncaughtExceptionHandler{nullptr};
std::terminate_handler g_previousTerminateHandler = nullptr;

// Hands an uncaught object exception to the uncaught-exception handler, then lets the process
// end as it would have.
void terminateWithUncaughtException() {
  const std::type_info* type = abi::__cxa_current_exception_type();
  if (type != nullptr && *type == typeid(NSException)) {
    if (NSUncaughtExceptionHandler* handler = g_uncaughtExceptionHandler.load()) {
      try {
        throw;
      } catch (NSException& exception) {
        handler(&exception);
      } catch (...) {
      }
    }
  }
  if (g_previousTerminateHandler != nullptr) g_previousTerminateHandler();
  std::abort();
}

// Installed when the runtime is loaded, before any code can raise.
const bool g_terminateHandlerInstalled = [] {
  g_previousTerminateHandler = std::set_terminate(terminateWithUncaughtException);
  return true;
}();

}  // namespace

NSException::NSException(std::string name, std::string reason, foundation::Dictionary userInfo)
    : name_(std::move(name)), reason_(std::move(reason)), userInfo_(std::move(userInfo)) {}

void NSException::raise() {
  void* frames[kMaxReturnAddresses];
  const int count = ::backtrace(frames, kMaxReturnAddresses);
  callStackReturnAddresses_.clear();
  // The first frame is this function.
  for (int i = 1; i < count; ++i) callStackReturnAddresses_.push_back(reinterpret_cast<std::uintptr_t>(frames[i]));
  throw *this;
}

NSUncaughtExceptionHandler* NSGetUncaughtExceptionHandler() { return g_uncaughtExceptionHandler.load(); }

void NSSetUncaughtExceptionHandler(NSUncaughtExceptionHandler* handler) { g_uncaughtExceptionHandler.store(handler); }

}  // namespace runtime
