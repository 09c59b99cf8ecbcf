#include "platform/dispatch/CallbackGuard.h"

#include <cstdio>
#include <mutex>
#include <string>

namespace dispatch {
namespace {

struct SinkHolder {
  std::mutex mutex;
  CallbackFailureSink sink;
};

SinkHolder& holder() {
  static auto* h = new SinkHolder();  // never destroyed: callbacks may fail while the process exits
  return *h;
}

}  // namespace

CallbackFailureSink setCallbackFailureSink(CallbackFailureSink sink) {
  std::lock_guard lock(holder().mutex);
  std::swap(holder().sink, sink);
  return sink;
}

void reportCallbackFailure(const char* callback, const char* what) noexcept {
  try {
    CallbackFailureSink sink;
    {
      std::lock_guard lock(holder().mutex);
      sink = holder().sink;
    }
    if (sink) {
      sink(callback, what);
      return;
    }
  } catch (...) {
    return;
  }
  // One write of fixed parts, so no allocation stands between a failure and its line.
  std::fprintf(stderr, "exception stopped in callback '%s': %s\n", callback, what);
}

}  // namespace dispatch
