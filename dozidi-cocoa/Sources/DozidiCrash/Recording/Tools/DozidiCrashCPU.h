#pragma once
// Register names and values of a machine context, for the report and the stack cursors. On
// x86_64 Linux the general registers are rax rbx rcx rdx rdi rsi rbp rsp r8-r15 rip rflags cs
// fs gs and the exception registers trapno, err and cr2; there is no link register.

#include <cstdint>

struct DozidiCrashMachineContext;

/// Copies the registers that the context's thread saved when it was stopped. Logs and leaves
/// them zero when the thread is not stopped.
/// Runs during a crash: no allocation, no locks.
void dozidicrashcpu_getState(DozidiCrashMachineContext* context);

/// Runs during a crash: no allocation, no locks.
std::uint64_t dozidicrashcpu_framePointer(const DozidiCrashMachineContext* context);
std::uint64_t dozidicrashcpu_stackPointer(const DozidiCrashMachineContext* context);
std::uint64_t dozidicrashcpu_instructionAddress(const DozidiCrashMachineContext* context);
std::uint64_t dozidicrashcpu_linkRegister(const DozidiCrashMachineContext* context);
std::uint64_t dozidicrashcpu_faultAddress(const DozidiCrashMachineContext* context);

/// -1: the stack grows towards lower addresses.
int dozidicrashcpu_stackGrowDirection();

int dozidicrashcpu_numRegisters();
/// Name of general register `index`, or null outside the range.
const char* dozidicrashcpu_registerName(int index);
/// Value of general register `index`; logs and gives 0 outside the range.
std::uint64_t dozidicrashcpu_registerValue(const DozidiCrashMachineContext* context, int index);

int dozidicrashcpu_numExceptionRegisters();
/// Logs and gives null outside the range.
const char* dozidicrashcpu_exceptionRegisterName(int index);
std::uint64_t dozidicrashcpu_exceptionRegisterValue(const DozidiCrashMachineContext* context, int index);

/// A code address as a plain address: unchanged on x86_64, where user addresses carry no tag bits.
std::uint64_t dozidicrashcpu_normaliseInstructionPointer(std::uint64_t address);
