#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashMach.h"

#include <csignal>
#include <iterator>

namespace {

constexpr const char* kExceptionNames[] = {
    nullptr,         "EXC_BAD_ACCESS", "EXC_BAD_INSTRUCTION", "EXC_ARITHMETIC",   "EXC_EMULATION", "EXC_SOFTWARE",
    "EXC_BREAKPOINT", "EXC_SYSCALL",   "EXC_MACH_SYSCALL",    "EXC_RPC_ALERT",    "EXC_CRASH",
};

constexpr const char* kKernelReturnNames[] = {
    "KERN_SUCCESS", "KERN_INVALID_ADDRESS", "KERN_PROTECTION_FAILURE", "KERN_NO_SPACE", "KERN_INVALID_ARGUMENT",
    "KERN_FAILURE", "KERN_RESOURCE_SHORTAGE", "KERN_NOT_RECEIVER", "KERN_NO_ACCESS", "KERN_MEMORY_FAILURE",
    "KERN_MEMORY_ERROR", "KERN_ALREADY_IN_SET", "KERN_NOT_IN_SET", "KERN_NAME_EXISTS", "KERN_ABORTED",
    "KERN_INVALID_NAME", "KERN_INVALID_TASK", "KERN_INVALID_RIGHT", "KERN_INVALID_VALUE", "KERN_UREFS_OVERFLOW",
    "KERN_INVALID_CAPABILITY", "KERN_RIGHT_EXISTS", "KERN_INVALID_HOST", "KERN_MEMORY_PRESENT",
    "KERN_MEMORY_DATA_MOVED", "KERN_MEMORY_RESTART_COPY", "KERN_INVALID_PROCESSOR_SET", "KERN_POLICY_LIMIT",
    "KERN_INVALID_POLICY", "KERN_INVALID_OBJECT", "KERN_ALREADY_WAITING", "KERN_DEFAULT_SET",
    "KERN_EXCEPTION_PROTECTED", "KERN_INVALID_LEDGER", "KERN_INVALID_MEMORY_CONTROL", "KERN_INVALID_SECURITY",
    "KERN_NOT_DEPRESSED", "KERN_TERMINATED", "KERN_LOCK_SET_DESTROYED", "KERN_LOCK_UNSTABLE", "KERN_LOCK_OWNED",
    "KERN_LOCK_OWNED_SELF", "KERN_SEMAPHORE_DESTROYED", "KERN_RPC_SERVER_TERMINATED", "KERN_RPC_TERMINATE_ORPHAN",
    "KERN_RPC_CONTINUE_ORPHAN", "KERN_NOT_SUPPORTED", "KERN_NODE_DOWN", "KERN_NOT_WAITING",
    "KERN_OPERATION_TIMED_OUT", "KERN_CODESIGN_ERROR",
};
static_assert(std::size(kKernelReturnNames) == 51);

constexpr std::int64_t kKernInvalidAddress = 1;
// Codes of software exceptions that stand for signals.
constexpr std::int64_t kSoftSigSys = 0x10000;
constexpr std::int64_t kSoftSigPipe = 0x10001;
constexpr std::int64_t kSoftSigAbrt = 0x10002;
constexpr std::int64_t kSoftSigKill = 0x10003;

}  // namespace

const char* dozidicrashmach_exceptionName(std::int64_t exceptionType) {
  if (exceptionType < 1 || exceptionType >= static_cast<std::int64_t>(std::size(kExceptionNames))) return nullptr;
  return kExceptionNames[exceptionType];
}

const char* dozidicrashmach_kernelReturnCodeName(std::int64_t returnCode) {
  if (returnCode < 0 || returnCode >= static_cast<std::int64_t>(std::size(kKernelReturnNames))) return nullptr;
  return kKernelReturnNames[returnCode];
}

int dozidicrashmach_signalForMachException(int exception, std::int64_t code) {
  switch (exception) {
    case kDozidiCrashExcBadAccess: return code == kKernInvalidAddress ? SIGSEGV : SIGBUS;
    case kDozidiCrashExcBadInstruction: return SIGILL;
    case kDozidiCrashExcArithmetic: return SIGFPE;
    // No signal of this system stands for emulation.
    case kDozidiCrashExcEmulation: return 0;
    case kDozidiCrashExcSoftware:
      switch (code) {
        case kSoftSigSys: return SIGSYS;
        case kSoftSigPipe: return SIGPIPE;
        case kSoftSigAbrt: return SIGABRT;
        case kSoftSigKill: return SIGKILL;
        default: return 0;
      }
    case kDozidiCrashExcBreakpoint: return SIGTRAP;
    default: return 0;
  }
}

int dozidicrashmach_machExceptionForSignal(int signal) {
  switch (signal) {
    case SIGILL: return kDozidiCrashExcBadInstruction;
    case SIGTRAP: return kDozidiCrashExcBreakpoint;
    case SIGABRT: return kDozidiCrashExcCrash;
    case SIGFPE: return kDozidiCrashExcArithmetic;
    case SIGKILL: return static_cast<int>(kSoftSigKill);
    case SIGBUS: return kDozidiCrashExcBadAccess;
    case SIGSEGV: return kDozidiCrashExcBadAccess;
    case SIGSYS: return static_cast<int>(kSoftSigSys);
    case SIGPIPE: return static_cast<int>(kSoftSigPipe);
    default: return 0;
  }
}
