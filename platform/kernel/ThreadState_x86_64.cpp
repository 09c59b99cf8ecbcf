// Registers of x86_64 Linux. The report names them after the kernel's mcontext (REG_*), in the
// order of the System V ABI's usual listing; the fault information the kernel saves for a signal
// (trap number, error code, CR2) stands for the exception registers. There is no link register:
// the return address lives on the stack, so the link-register step of a stack walk finds 0.

#include "platform/kernel/ThreadState.h"

#if defined(__x86_64__)

namespace kernel {

namespace {

struct NamedRegister {
  const char* name;
  int index;
};

constexpr NamedRegister kRegisters[] = {
    {"rax", REG_RAX}, {"rbx", REG_RBX}, {"rcx", REG_RCX}, {"rdx", REG_RDX}, {"rdi", REG_RDI},
    {"rsi", REG_RSI}, {"rbp", REG_RBP}, {"rsp", REG_RSP}, {"r8", REG_R8},   {"r9", REG_R9},
    {"r10", REG_R10}, {"r11", REG_R11}, {"r12", REG_R12}, {"r13", REG_R13}, {"r14", REG_R14},
    {"r15", REG_R15}, {"rip", REG_RIP}, {"rflags", REG_EFL}, {"cs", -1},     {"fs", -2},
    {"gs", -3},
};
constexpr int kRegisterCount = sizeof kRegisters / sizeof kRegisters[0];

constexpr NamedRegister kExceptionRegisters[] = {{"trapno", REG_TRAPNO}, {"err", REG_ERR}, {"cr2", REG_CR2}};
constexpr int kExceptionRegisterCount = sizeof kExceptionRegisters / sizeof kExceptionRegisters[0];

// cs, gs and fs share one 64-bit slot (REG_CSGSFS): cs in bits 0-15, gs in 16-31, fs in 32-47.
std::uint64_t segment(const ThreadState& state, int which) {
  auto packed = static_cast<std::uint64_t>(state.gregs[REG_CSGSFS]);
  switch (which) {
    case -1: return packed & 0xFFFF;
    case -2: return (packed >> 32) & 0xFFFF;
    default: return (packed >> 16) & 0xFFFF;
  }
}

}  // namespace

int registerCount() { return kRegisterCount; }

const char* registerName(int index) {
  return index >= 0 && index < kRegisterCount ? kRegisters[index].name : nullptr;
}

std::uint64_t registerValue(const ThreadState& state, int index) {
  if (index < 0 || index >= kRegisterCount) return 0;
  int slot = kRegisters[index].index;
  if (slot < 0) return segment(state, slot);
  return static_cast<std::uint64_t>(state.gregs[slot]);
}

int exceptionRegisterCount() { return kExceptionRegisterCount; }

const char* exceptionRegisterName(int index) {
  return index >= 0 && index < kExceptionRegisterCount ? kExceptionRegisters[index].name : nullptr;
}

std::uint64_t exceptionRegisterValue(const ThreadState& state, int index) {
  if (index < 0 || index >= kExceptionRegisterCount) return 0;
  return static_cast<std::uint64_t>(state.gregs[kExceptionRegisters[index].index]);
}

std::uint64_t instructionAddress(const ThreadState& state) { return static_cast<std::uint64_t>(state.gregs[REG_RIP]); }
std::uint64_t stackPointer(const ThreadState& state) { return static_cast<std::uint64_t>(state.gregs[REG_RSP]); }
std::uint64_t framePointer(const ThreadState& state) { return static_cast<std::uint64_t>(state.gregs[REG_RBP]); }
std::uint64_t linkRegister(const ThreadState&) { return 0; }
std::uint64_t faultAddress(const ThreadState& state) { return static_cast<std::uint64_t>(state.gregs[REG_CR2]); }

// User addresses on x86_64 are canonical 47-bit values and carry no tag bits.
std::uint64_t normaliseInstructionPointer(std::uint64_t address) { return address; }

}  // namespace kernel

#endif
