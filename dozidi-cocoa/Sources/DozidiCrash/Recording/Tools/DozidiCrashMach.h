#pragma once
// Names of the exception kinds and kernel return codes that reports carry in "mach", and the
// mapping between those exception kinds and this system's signals.
#include <cstdint>

/// Exception kinds.
inline constexpr int kDozidiCrashExcBadAccess = 1;
inline constexpr int kDozidiCrashExcBadInstruction = 2;
inline constexpr int kDozidiCrashExcArithmetic = 3;
inline constexpr int kDozidiCrashExcEmulation = 4;
inline constexpr int kDozidiCrashExcSoftware = 5;
inline constexpr int kDozidiCrashExcBreakpoint = 6;
inline constexpr int kDozidiCrashExcCrash = 10;

/// Runs during a crash: no allocation, no locks.
const char* dozidicrashmach_exceptionName(std::int64_t exceptionType);
/// Runs during a crash: no allocation, no locks.
const char* dozidicrashmach_kernelReturnCodeName(std::int64_t returnCode);
/// Runs during a crash: no allocation, no locks.
int dozidicrashmach_signalForMachException(int exception, std::int64_t code);
/// Runs during a crash: no allocation, no locks.
int dozidicrashmach_machExceptionForSignal(int signal);
