// The C++ runtime's throw entry, interposed: every throw of the process that the dynamic linker
// binds here passes through, so the C++ exception monitor can keep the throwing stack; then the
// runtime's own throw runs. This file does not include <cxxabi.h>: compilers disagree on whether a
// definition with the header's exact declaration in view may be given, and nothing here needs
// the type information's type.

#include <dlfcn.h>

#include <atomic>

#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Monitors/DozidiCrashMonitor_CPPException.h"

namespace {

using CxaThrowType = void (*)(void*, void*, void (*)(void*));
std::atomic<CxaThrowType> g_nextCxaThrow{nullptr};

}  // namespace

extern "C" [[noreturn]] void __cxa_throw(void* thrownException, void* typeInfo, void (*destructor)(void*)) {
  dozidicrashcm_cppexception_noteThrow();
  CxaThrowType next = g_nextCxaThrow.load();
  if (next == nullptr) {
    next = reinterpret_cast<CxaThrowType>(dlsym(RTLD_NEXT, "__cxa_throw"));
    g_nextCxaThrow.store(next);
  }
  next(thrownException, typeInfo, destructor);
  __builtin_unreachable();
}
