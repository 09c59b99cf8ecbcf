#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashSignalInfo.h"

#include <csignal>
#include <iterator>

namespace {

struct SignalCodeInfo {
  int code;
  const char* name;
};

struct SignalInfo {
  int signal;
  const char* name;
  const SignalCodeInfo* codes;
  int numCodes;
};

#define ENUM_NAME_MAPPING(A) {A, #A}

constexpr SignalCodeInfo kSigIll[] = {
    ENUM_NAME_MAPPING(ILL_ILLOPC), ENUM_NAME_MAPPING(ILL_ILLOPN), ENUM_NAME_MAPPING(ILL_ILLADR),
    ENUM_NAME_MAPPING(ILL_ILLTRP), ENUM_NAME_MAPPING(ILL_PRVOPC), ENUM_NAME_MAPPING(ILL_PRVREG),
    ENUM_NAME_MAPPING(ILL_COPROC), ENUM_NAME_MAPPING(ILL_BADSTK),
};
constexpr SignalCodeInfo kSigTrap[] = {ENUM_NAME_MAPPING(TRAP_BRKPT), ENUM_NAME_MAPPING(TRAP_TRACE)};
constexpr SignalCodeInfo kSigBus[] = {
    ENUM_NAME_MAPPING(BUS_ADRALN), ENUM_NAME_MAPPING(BUS_ADRERR), ENUM_NAME_MAPPING(BUS_OBJERR),
    ENUM_NAME_MAPPING(BUS_MCEERR_AR), ENUM_NAME_MAPPING(BUS_MCEERR_AO),
};
constexpr SignalCodeInfo kSigFpe[] = {
    ENUM_NAME_MAPPING(FPE_INTDIV), ENUM_NAME_MAPPING(FPE_INTOVF), ENUM_NAME_MAPPING(FPE_FLTDIV),
    ENUM_NAME_MAPPING(FPE_FLTOVF), ENUM_NAME_MAPPING(FPE_FLTUND), ENUM_NAME_MAPPING(FPE_FLTRES),
    ENUM_NAME_MAPPING(FPE_FLTINV), ENUM_NAME_MAPPING(FPE_FLTSUB),
};
constexpr SignalCodeInfo kSigSegv[] = {
    ENUM_NAME_MAPPING(SEGV_MAPERR), ENUM_NAME_MAPPING(SEGV_ACCERR), ENUM_NAME_MAPPING(SEGV_BNDERR),
    ENUM_NAME_MAPPING(SEGV_PKUERR),
};

#define SIGNAL_INFO(SIGNAL, CODES) {SIGNAL, #SIGNAL, CODES, static_cast<int>(std::size(CODES))}
#define SIGNAL_INFO_NOCODES(SIGNAL) {SIGNAL, #SIGNAL, nullptr, 0}

constexpr SignalInfo kSignalInfo[] = {
    SIGNAL_INFO_NOCODES(SIGABRT), SIGNAL_INFO(SIGBUS, kSigBus),   SIGNAL_INFO(SIGFPE, kSigFpe),
    SIGNAL_INFO(SIGILL, kSigIll), SIGNAL_INFO_NOCODES(SIGPIPE),  SIGNAL_INFO(SIGSEGV, kSigSegv),
    SIGNAL_INFO_NOCODES(SIGSYS),  SIGNAL_INFO(SIGTRAP, kSigTrap),
};

constexpr int kFatalSignals[] = {SIGABRT, SIGBUS, SIGFPE, SIGILL, SIGPIPE, SIGSEGV, SIGSYS, SIGTRAP};

}  // namespace

const int* dozidicrashsignal_fatalSignals() { return kFatalSignals; }
int dozidicrashsignal_numFatalSignals() { return static_cast<int>(std::size(kFatalSignals)); }

const char* dozidicrashsignal_signalName(int signal) {
  for (const SignalInfo& info : kSignalInfo) {
    if (info.signal == signal) return info.name;
  }
  return nullptr;
}

const char* dozidicrashsignal_signalCodeName(int signal, int code) {
  for (const SignalInfo& info : kSignalInfo) {
    if (info.signal != signal || info.numCodes == 0) continue;
    for (int i = 0; i < info.numCodes; ++i) {
      if (info.codes[i].code == code) return info.codes[i].name;
    }
    return nullptr;
  }
  return nullptr;
}
