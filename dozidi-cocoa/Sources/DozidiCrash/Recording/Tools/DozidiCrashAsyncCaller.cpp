#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashAsyncCaller.h"

#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashAsyncHooks.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashMachineContext.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashSymbolRebinding.h"

#include <execinfo.h>

#include <cstdlib>
#include <new>

namespace {

constexpr int kSlotCount = 127;
constexpr std::uint64_t kFnvOffsetBasis = 0xCBF29CE484222325ULL;
constexpr std::uint64_t kFnvPrime = 0x100000001B3ULL;

struct Slot {
  std::atomic<std::uint64_t> thread{0};
  std::atomic<dozidicrash_async_backtrace_t*> record{nullptr};
};
static_assert(std::atomic<std::uint64_t>::is_always_lock_free);
static_assert(std::atomic<dozidicrash_async_backtrace_t*>::is_always_lock_free);

Slot gSlots[kSlotCount];
std::atomic<bool> gEnabled{false};
std::atomic<bool> gRebound{false};

}  // namespace

int dozidicrash_asyncCallerSlotIndex(std::uint64_t thread) {
  return static_cast<int>((kFnvOffsetBasis + thread * kFnvPrime) % kSlotCount);
}

dozidicrash_async_backtrace_t* dozidicrash_get_async_caller_for_thread(std::uint64_t thread) {
  if (!gEnabled.load(std::memory_order_acquire) || thread == 0) return nullptr;
  Slot& slot = gSlots[dozidicrash_asyncCallerSlotIndex(thread)];
  if (slot.thread.load(std::memory_order_acquire) != thread) return nullptr;
  dozidicrash_async_backtrace_t* record = slot.record.load(std::memory_order_acquire);
  if (record != nullptr) record->refcount.fetch_add(1, std::memory_order_relaxed);
  return record;
}

void dozidicrash_releaseAsyncCaller(dozidicrash_async_backtrace_t* record) {
  // Iterative, so a long chain of callers cannot exhaust the stack.
  while (record != nullptr && record->refcount.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    dozidicrash_async_backtrace_t* next = record->next;
    record->~dozidicrash_async_backtrace_s();
    std::free(record);
    record = next;
  }
}

void dozidicrash_releaseAsyncCallerInCrash(dozidicrash_async_backtrace_t* record) {
  if (record != nullptr) record->refcount.fetch_sub(1, std::memory_order_acq_rel);
}

dozidicrash_async_backtrace_t* dozidicrash_captureAsyncCaller() {
  void* memory = std::malloc(sizeof(dozidicrash_async_backtrace_t));
  if (memory == nullptr) return nullptr;
  auto* record = new (memory) dozidicrash_async_backtrace_t;
  record->refcount.store(1, std::memory_order_relaxed);
  static_assert(sizeof(void*) == sizeof(std::uint64_t));
  int length = ::backtrace(reinterpret_cast<void**>(record->backtrace), 128);
  record->len = length > 0 ? static_cast<std::uint64_t>(length) : 0;
  record->next = dozidicrash_get_async_caller_for_thread(dozidicrashthread_self());
  return record;
}

void dozidicrash_runWithAsyncCaller(dozidicrash_async_backtrace_t* record, void (*work)(void*), void* context) {
  std::uint64_t self = dozidicrashthread_self();
  Slot& slot = gSlots[dozidicrash_asyncCallerSlotIndex(self)];
  bool registered = false;
  if (record != nullptr) {
    std::uint64_t expected = 0;
    while (!(registered = slot.thread.compare_exchange_weak(expected, self, std::memory_order_acq_rel)) && expected == 0) {
    }
    if (registered) slot.record.store(record, std::memory_order_release);
  }
  work(context);
  if (registered && slot.thread.load(std::memory_order_acquire) == self) {
    slot.record.store(nullptr, std::memory_order_release);
    slot.thread.store(0, std::memory_order_release);
  }
  dozidicrash_releaseAsyncCaller(record);
}

void dozidicrash_installAsyncHooks() {
  gEnabled.store(true, std::memory_order_release);
  bool expected = false;
  if (gRebound.compare_exchange_strong(expected, true)) dozidicrash_rebindAsyncEntryPoints();
}

void dozidicrash_uninstallAsyncHooks() { gEnabled.store(false, std::memory_order_release); }

bool dozidicrash_asyncHooksEnabled() { return gEnabled.load(std::memory_order_acquire); }
