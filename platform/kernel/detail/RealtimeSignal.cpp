#include "platform/kernel/detail/RealtimeSignal.h"

namespace kernel::detail {

int claimRealtimeSignal(SignalAction action, const sigset_t& blocked) {
  // The first and last few are left to the threading library and to programs that pick them.
  for (int sig = SIGRTMIN + 4; sig <= SIGRTMAX - 4; ++sig) {
    struct sigaction current {};
    if (::sigaction(sig, nullptr, &current) != 0) continue;
    if (current.sa_handler != SIG_DFL || (current.sa_flags & SA_SIGINFO) != 0) continue;
    struct sigaction claimed {};
    claimed.sa_sigaction = action;
    claimed.sa_flags = SA_SIGINFO | SA_RESTART;
    claimed.sa_mask = blocked;
    if (::sigaction(sig, &claimed, nullptr) == 0) return sig;
  }
  return 0;
}

}  // namespace kernel::detail
