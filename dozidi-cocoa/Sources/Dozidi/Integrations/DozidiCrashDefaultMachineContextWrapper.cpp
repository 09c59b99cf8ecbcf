#include "dozidi-cocoa/Sources/Dozidi/Integrations/DozidiCrashDefaultMachineContextWrapper.h"

#include <unistd.h>

#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashMachineContext.h"

void DozidiCrashDefaultMachineContextWrapper::fillContextForCurrentThread(DozidiCrashMachineContext* context) {
  // Asked as a crashed context: only that one carries the process's thread list.
  dozidicrashmc_getContextForThread(dozidicrashthread_self(), context, true);
}

std::int32_t DozidiCrashDefaultMachineContextWrapper::getThreadCount(const DozidiCrashMachineContext* context) {
  return dozidicrashmc_getThreadCount(context);
}

std::uint64_t DozidiCrashDefaultMachineContextWrapper::getThread(const DozidiCrashMachineContext* context,
                                                                 std::int32_t index) {
  return dozidicrashmc_getThreadAtIndex(context, index);
}

void DozidiCrashDefaultMachineContextWrapper::getThreadName(std::uint64_t thread, char* buffer,
                                                            std::int32_t bufLength) {
  if (buffer == nullptr || bufLength < 1) return;
  buffer[0] = '\0';
  if (!dozidicrashthread_getThreadName(static_cast<DozidiCrashThread>(thread), buffer, bufLength)) buffer[0] = '\0';
}

bool DozidiCrashDefaultMachineContextWrapper::isMainThread(std::uint64_t thread) {
  // The main thread's kernel id is the process id; it is fixed for the life of the process, so
  // nothing needs recording at load time.
  return thread == static_cast<std::uint64_t>(getpid());
}
