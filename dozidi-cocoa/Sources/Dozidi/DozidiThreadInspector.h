#pragma once
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "dozidi-cocoa/Sources/Dozidi/DozidiClient.h"
#include "dozidi-cocoa/Sources/Dozidi/DozidiInAppLogic.h"

class DozidiFrame;
class DozidiStacktrace;
struct DozidiCrashStackCursor;
struct DozidiCrashStackEntry;

/// Turns the crash recorder's stack entries into frames: addresses as hexadecimal text, the
/// image's path as the package, the symbol as the function, and whether the image is the app's.
class DozidiCrashStackEntryMapper {
 public:
  explicit DozidiCrashStackEntryMapper(DozidiInAppLogic inAppLogic) : inAppLogic_(std::move(inAppLogic)) {}
  std::shared_ptr<DozidiFrame> dozidiCrashStackEntryToDozidiFrame(const DozidiCrashStackEntry& entry) const;

 private:
  DozidiInAppLogic inAppLogic_;
};

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
  explicit DozidiDefaultThreadInspector(std::shared_ptr<const DozidiStacktraceBuilder> builder)
      : builder_(std::move(builder)) {}
  std::vector<std::shared_ptr<DozidiThread>> getCurrentThreads() override;
  /// Every thread of the process with its stack trace, the main thread first. The other threads
  /// are stopped while their stacks are walked; everything the walk needs is reserved before.
  std::vector<std::shared_ptr<DozidiThread>> getCurrentThreadsWithStackTrace();
  /// The calling thread's name; "" when it has none.
  static std::string getThreadName();

 private:
  std::shared_ptr<const DozidiStacktraceBuilder> builder_;
  std::mutex lock_;
};
