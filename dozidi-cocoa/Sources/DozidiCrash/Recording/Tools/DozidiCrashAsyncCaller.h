#pragma once
// Async callers: the stack of the code that scheduled a block, kept while the block runs, so a
// crash inside the block can show where it came from.

#include <atomic>
#include <cstdint>

/// One scheduling site: the stack of the thread that scheduled a block, and that thread's own
/// async caller. Reference counted; `next` holds one reference.
struct dozidicrash_async_backtrace_s {
  std::atomic<std::uint64_t> refcount;
  dozidicrash_async_backtrace_s* next;
  std::uint64_t len;
  std::uint64_t backtrace[128];
};
using dozidicrash_async_backtrace_t = dozidicrash_async_backtrace_s;

/// Turns stitching on; the first call also rebinds the dispatch entry points in every loaded
/// image. Normal time.
void dozidicrash_installAsyncHooks();

/// Turns stitching off; the rebound entry points pass calls straight through.
void dozidicrash_uninstallAsyncHooks();

/// The async caller of `thread` with one more reference, or null (stitching off, no caller, or
/// the thread did not win its slot). The caller must release it. A thread other than the
/// caller's own must be stopped (`dozidicrashmc_suspendEnvironment`) while this runs: its
/// record is only guaranteed alive while it cannot finish its block.
/// Runs during a crash: no allocation, no locks.
dozidicrash_async_backtrace_t* dozidicrash_get_async_caller_for_thread(std::uint64_t thread);

/// Drops one reference; at zero the record's own caller is released and the record freed.
/// Null is ignored. Normal time only: it may free.
void dozidicrash_releaseAsyncCaller(dozidicrash_async_backtrace_t* record);

/// Drops one reference without ever freeing: what a crash handler uses, where free is not
/// allowed. A record left at zero is leaked, which is harmless in a dying process.
/// Runs during a crash: no allocation, no locks.
void dozidicrash_releaseAsyncCallerInCrash(dozidicrash_async_backtrace_t* record);

/// Captures the calling thread's stack as a new record (one reference) chained to the calling
/// thread's own async caller. Null when the record cannot be allocated. Normal time.
dozidicrash_async_backtrace_t* dozidicrash_captureAsyncCaller();

/// Runs `work(context)` with `record` registered as the calling thread's async caller (when
/// its slot is free), then unregisters it and releases the record (the caller's reference).
void dozidicrash_runWithAsyncCaller(dozidicrash_async_backtrace_t* record, void (*work)(void*), void* context);

/// The slot of a thread in the 127-slot table: (FNV offset basis + thread x FNV prime) mod 127.
int dozidicrash_asyncCallerSlotIndex(std::uint64_t thread);
