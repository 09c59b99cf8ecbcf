#pragma once
#include <cstdint>

struct DozidiCrashMachineContext;

/// The crash recorder's machine context as the thread inspector reaches it: the calling
/// thread's context with the process's thread list, and facts of each listed thread.
/// Replaceable in tests.
class DozidiCrashMachineContextWrapper {
 public:
  virtual ~DozidiCrashMachineContextWrapper() = default;
  /// Fills `context` (`dozidicrashmc_contextSize()` bytes) for the calling thread, with the
  /// thread list. Call it on the thread whose context is wanted.
  virtual void fillContextForCurrentThread(DozidiCrashMachineContext* context) = 0;
  virtual std::int32_t getThreadCount(const DozidiCrashMachineContext* context) = 0;
  virtual std::uint64_t getThread(const DozidiCrashMachineContext* context, std::int32_t index) = 0;
  /// Writes the thread's name into `buffer`, NUL-terminated; "" when it has none.
  virtual void getThreadName(std::uint64_t thread, char* buffer, std::int32_t bufLength) = 0;
  virtual bool isMainThread(std::uint64_t thread) = 0;
};

/// The recorder's own machine context. The main thread is the process's first thread, the one
/// whose kernel thread id is the process id. Stateless: any thread.
class DozidiCrashDefaultMachineContextWrapper final : public DozidiCrashMachineContextWrapper {
 public:
  void fillContextForCurrentThread(DozidiCrashMachineContext* context) override;
  std::int32_t getThreadCount(const DozidiCrashMachineContext* context) override;
  std::uint64_t getThread(const DozidiCrashMachineContext* context, std::int32_t index) override;
  void getThreadName(std::uint64_t thread, char* buffer, std::int32_t bufLength) override;
  bool isMainThread(std::uint64_t thread) override;
};
