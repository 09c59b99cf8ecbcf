#pragma once
// Replacements for the dispatch entry points that take a function and a context. While
// stitching is on, each captures the scheduling thread's stack and runs the work with that
// record as the worker thread's async caller. The block-taking entry points have no C++ form
// (blocks are a compiler extension we do not have), so only the function forms are rebound.

#include <cstdint>

using dozidicrash_dispatch_function_t = void (*)(void*);
using dozidicrash_dispatch_time_t = std::uint64_t;

extern "C" {
void dozidicrash_dispatch_async_f(void* queue, void* context, dozidicrash_dispatch_function_t work);
void dozidicrash_dispatch_after_f(dozidicrash_dispatch_time_t when, void* queue, void* context, dozidicrash_dispatch_function_t work);
void dozidicrash_dispatch_barrier_async_f(void* queue, void* context, dozidicrash_dispatch_function_t work);
}

/// Rebinds "dispatch_async_f", "dispatch_after_f" and "dispatch_barrier_async_f" in every loaded
/// image to the replacements above, keeping the replaced functions. Normal time.
void dozidicrash_rebindAsyncEntryPoints();

/// Whether stitching is on.
bool dozidicrash_asyncHooksEnabled();
