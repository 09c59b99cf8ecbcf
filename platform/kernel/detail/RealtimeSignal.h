#pragma once
// Claiming a real-time signal that nobody in the process handles yet.

#include <signal.h>

namespace kernel::detail {

using SignalAction = void (*)(int, siginfo_t*, void*);

/// Installs `action` (with SA_SIGINFO | SA_RESTART and `blocked` as its mask) on the first
/// real-time signal, away from both ends of the range, that still has the default handler.
/// Returns the signal, or 0 when every one is taken. Normal time only.
int claimRealtimeSignal(SignalAction action, const sigset_t& blocked);

}  // namespace kernel::detail
