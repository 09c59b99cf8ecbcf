#pragma once
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiClient.h"
#include "dozidi-cocoa/Sources/Dozidi/Integrations/DozidiCrashDefaultMachineContextWrapper.h"
#include "dozidi-cocoa/Sources/Dozidi/Integrations/DozidiCrashStackEntryMapper.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiInAppLogic.h"

class DozidiFrame;
class DozidiStacktrace;
struct DozidiCrashStackCursor;
struct DozidiCrashStackEntry;

/// Builds stack traces from the crash recorder's stack cursors: innermost frame last, the
/// reporter's own frames at the innermost end left out.
class DozidiStacktraceBuilder {
 public:
  explicit DozidiStacktraceBuilder(std::shared_ptr<const DozidiCrashStackEntryMapper> mapper)
      : mapper_(std::move(mapper)) {}

  std::shared_ptr<DozidiStacktrace> retrieveStacktraceFromCursor(DozidiCrashStackCursor& cursor) const;
  std::shared_ptr<DozidiStacktrace> buildStackTraceFromStackEntries(const DozidiCrashStackEntry* entries,
                                                                    std::uint32_t amount) const;
  /// The calling thread's own stack.
  std::shared_ptr<DozidiStacktrace> buildStacktraceForCurrentThread() const;

 private:
  std::shared_ptr<DozidiStacktrace> finish(std::vector<std::shared_ptr<DozidiFrame>> frames) const;
  std::shared_ptr<const DozidiCrashStackEntryMapper> mapper_;
};

/// The calling thread, with its stack trace, as the event's thread list.
class DozidiDefaultThreadInspector final : public DozidiThreadInspector {
 public:
  /// Without a machine-context wrapper, the recorder's own.
  explicit DozidiDefaultThreadInspector(std::shared_ptr<const DozidiStacktraceBuilder> builder,
                                        std::shared_ptr<DozidiCrashMachineContextWrapper> machineContextWrapper = nullptr)
      : builder_(std::move(builder)),
        machineContextWrapper_(machineContextWrapper ? std::move(machineContextWrapper)
                                                     : std::make_shared<DozidiCrashDefaultMachineContextWrapper>()) {}
  std::vector<std::shared_ptr<DozidiThread>> getCurrentThreads() override;
  /// Every thread of the process with its stack trace, the main thread first. The other threads
  /// are stopped while their stacks are walked; everything the walk needs is reserved before.
  std::vector<std::shared_ptr<DozidiThread>> getCurrentThreadsWithStackTrace() override;
  /// The calling thread's name; "" when it has none.
  static std::string getThreadName();
  /// The thread's name as the machine-context wrapper reads it; "" when it has none.
  std::string getThreadName(std::uint64_t thread);

 private:
  std::shared_ptr<const DozidiStacktraceBuilder> builder_;
  std::shared_ptr<DozidiCrashMachineContextWrapper> machineContextWrapper_;
  std::mutex lock_;
};
