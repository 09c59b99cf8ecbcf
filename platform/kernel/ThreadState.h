#pragma once
// Register access on a saved machine context (the mcontext of a signal's user context), one
// implementation per CPU in ThreadState_<arch>.cpp.

#include <ucontext.h>

#include <cstdint>

namespace kernel {

/// Saved registers of one thread: the machine context the kernel gave a signal handler.
using ThreadState = mcontext_t;

/// Number of general registers reported for this CPU, and the name of each (none outside the
/// range). On x86_64: rax rbx rcx rdx rdi rsi rbp rsp r8-r15 rip rflags cs fs gs.
int registerCount();
const char* registerName(int index);
/// Value of a general register; 0 outside the range.
/// Runs during a crash: no allocation, no locks.
std::uint64_t registerValue(const ThreadState& state, int index);

/// Exception registers: on x86_64 "trapno", "err" and "cr2" (the fault address).
int exceptionRegisterCount();
const char* exceptionRegisterName(int index);
std::uint64_t exceptionRegisterValue(const ThreadState& state, int index);

/// Runs during a crash: no allocation, no locks.
std::uint64_t instructionAddress(const ThreadState& state);
std::uint64_t stackPointer(const ThreadState& state);
std::uint64_t framePointer(const ThreadState& state);
/// The return address held in a register; 0 on CPUs that keep it on the stack (x86_64).
std::uint64_t linkRegister(const ThreadState& state);
std::uint64_t faultAddress(const ThreadState& state);

/// Turns a code address as found in registers and frames into a plain address: pointer
/// authentication bits are removed where the CPU has them; elsewhere the address is unchanged.
/// Runs during a crash: no allocation, no locks.
std::uint64_t normaliseInstructionPointer(std::uint64_t address);

}  // namespace kernel
