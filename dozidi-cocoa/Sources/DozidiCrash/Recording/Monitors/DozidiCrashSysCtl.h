#pragma once
// Kernel queries by the names the report uses ("hw.machine", "kern.boottime", ...), answered
// from uname, sysinfo and /proc. An unknown name sets errno to ENOENT, logs, and gives 0.

#include <sys/time.h>

#include <cstdint>

/// MIB numbers understood by `dozidicrashsysctl_timeval`.
inline constexpr int kDozidiCrashCtlKern = 1;
inline constexpr int kDozidiCrashKernBoottime = 21;

std::int32_t dozidicrashsysctl_int32ForName(const char* name);
std::uint64_t dozidicrashsysctl_uint64ForName(const char* name);
/// Bytes written, terminator included; with a null buffer, the bytes needed. 0 on failure,
/// also when the buffer is too small.
int dozidicrashsysctl_stringForName(const char* name, char* value, int maxSize);
timeval dozidicrashsysctl_timeval(int major, int minor);
timeval dozidicrashsysctl_timevalForName(const char* name);
timeval dozidicrashsysctl_currentProcessStartTime();
/// The 6-byte hardware address of `interfaceName` (Linux has no "en0": callers pick a name).
bool dozidicrashsysctl_getMacAddress(const char* interfaceName, std::uint8_t* macAddress);
