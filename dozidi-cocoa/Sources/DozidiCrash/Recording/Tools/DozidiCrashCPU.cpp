#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashCPU.h"

#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashMachineContext.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashLogger.h"
#include "platform/kernel/ThreadState.h"
#include "platform/kernel/ThreadSuspension.h"

#include <cstring>

void dozidicrashcpu_getState(DozidiCrashMachineContext* context) {
  const kernel::ThreadState* saved = kernel::suspendedThreadState(static_cast<kernel::ThreadId>(context->thisThread));
  if (saved == nullptr) {
    DOZIDICRASHLOG_ERROR("thread_get_state: %s", "thread is not suspended");
    return;
  }
  std::memcpy(&context->machineContext, saved, sizeof context->machineContext);
}

std::uint64_t dozidicrashcpu_framePointer(const DozidiCrashMachineContext* context) { return kernel::framePointer(context->machineContext); }
std::uint64_t dozidicrashcpu_stackPointer(const DozidiCrashMachineContext* context) { return kernel::stackPointer(context->machineContext); }
std::uint64_t dozidicrashcpu_instructionAddress(const DozidiCrashMachineContext* context) {
  return kernel::instructionAddress(context->machineContext);
}
std::uint64_t dozidicrashcpu_linkRegister(const DozidiCrashMachineContext* context) { return kernel::linkRegister(context->machineContext); }
std::uint64_t dozidicrashcpu_faultAddress(const DozidiCrashMachineContext* context) { return kernel::faultAddress(context->machineContext); }

int dozidicrashcpu_stackGrowDirection() { return -1; }

int dozidicrashcpu_numRegisters() { return kernel::registerCount(); }

const char* dozidicrashcpu_registerName(int index) { return kernel::registerName(index); }

std::uint64_t dozidicrashcpu_registerValue(const DozidiCrashMachineContext* context, int index) {
  if (index < 0 || index >= kernel::registerCount()) {
    DOZIDICRASHLOG_ERROR("Invalid register number: %d", index);
    return 0;
  }
  return kernel::registerValue(context->machineContext, index);
}

int dozidicrashcpu_numExceptionRegisters() { return kernel::exceptionRegisterCount(); }

const char* dozidicrashcpu_exceptionRegisterName(int index) {
  const char* name = kernel::exceptionRegisterName(index);
  if (name == nullptr) DOZIDICRASHLOG_ERROR("Invalid register number: %d", index);
  return name;
}

std::uint64_t dozidicrashcpu_exceptionRegisterValue(const DozidiCrashMachineContext* context, int index) {
  if (index < 0 || index >= kernel::exceptionRegisterCount()) {
    DOZIDICRASHLOG_ERROR("Invalid register number: %d", index);
    return 0;
  }
  return kernel::exceptionRegisterValue(context->machineContext, index);
}

std::uint64_t dozidicrashcpu_normaliseInstructionPointer(std::uint64_t address) {
  return kernel::normaliseInstructionPointer(address);
}
