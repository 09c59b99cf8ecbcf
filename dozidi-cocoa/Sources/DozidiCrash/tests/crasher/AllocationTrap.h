#pragma once

inline constexpr int kAllocationTrapExitCode = 97;

/// From now on, any allocator call on the calling thread ends the process with
/// kAllocationTrapExitCode.
void allocationtrap_arm();
