#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashAsyncHooks.h"

#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashAsyncCaller.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashSymbolRebinding.h"

#include <atomic>
#include <cstdlib>

namespace {

using AsyncFunction = void (*)(void*, void*, dozidicrash_dispatch_function_t);
using AfterFunction = void (*)(dozidicrash_dispatch_time_t, void*, void*, dozidicrash_dispatch_function_t);

// Written by the rebinding (on the installing thread), read by every scheduling thread.
void* gReplacedAsync = nullptr;
void* gReplacedAfter = nullptr;
void* gReplacedBarrierAsync = nullptr;

template <typename T>
T replaced(void*& slot) {
  return reinterpret_cast<T>(__atomic_load_n(&slot, __ATOMIC_ACQUIRE));
}

struct Stitched {
  dozidicrash_async_backtrace_t* record;
  void* context;
  dozidicrash_dispatch_function_t work;
};

void runStitched(void* data) {
  auto* stitched = static_cast<Stitched*>(data);
  dozidicrash_runWithAsyncCaller(stitched->record, stitched->work, stitched->context);
  std::free(stitched);
}

// The work wrapped with the caller's record, or null when stitching is off or memory is short:
// then the call goes through unchanged.
Stitched* stitch(void* context, dozidicrash_dispatch_function_t work) {
  if (!dozidicrash_asyncHooksEnabled()) return nullptr;
  auto* stitched = static_cast<Stitched*>(std::malloc(sizeof(Stitched)));
  if (stitched == nullptr) return nullptr;
  stitched->record = dozidicrash_captureAsyncCaller();
  if (stitched->record == nullptr) {
    std::free(stitched);
    return nullptr;
  }
  stitched->context = context;
  stitched->work = work;
  return stitched;
}

}  // namespace

extern "C" void dozidicrash_dispatch_async_f(void* queue, void* context, dozidicrash_dispatch_function_t work) {
  auto next = replaced<AsyncFunction>(gReplacedAsync);
  if (next == nullptr) return;
  if (Stitched* stitched = stitch(context, work)) return next(queue, stitched, runStitched);
  next(queue, context, work);
}

extern "C" void dozidicrash_dispatch_after_f(dozidicrash_dispatch_time_t when, void* queue, void* context,
                                             dozidicrash_dispatch_function_t work) {
  auto next = replaced<AfterFunction>(gReplacedAfter);
  if (next == nullptr) return;
  if (Stitched* stitched = stitch(context, work)) return next(when, queue, stitched, runStitched);
  next(when, queue, context, work);
}

extern "C" void dozidicrash_dispatch_barrier_async_f(void* queue, void* context, dozidicrash_dispatch_function_t work) {
  auto next = replaced<AsyncFunction>(gReplacedBarrierAsync);
  if (next == nullptr) return;
  if (Stitched* stitched = stitch(context, work)) return next(queue, stitched, runStitched);
  next(queue, context, work);
}

void dozidicrash_rebindAsyncEntryPoints() {
  const dozidicrash_rebinding rebindings[] = {
      {"dispatch_async_f", reinterpret_cast<void*>(&dozidicrash_dispatch_async_f), &gReplacedAsync},
      {"dispatch_after_f", reinterpret_cast<void*>(&dozidicrash_dispatch_after_f), &gReplacedAfter},
      {"dispatch_barrier_async_f", reinterpret_cast<void*>(&dozidicrash_dispatch_barrier_async_f), &gReplacedBarrierAsync},
  };
  dozidicrash_rebind_symbols(rebindings, sizeof rebindings / sizeof rebindings[0]);
}
