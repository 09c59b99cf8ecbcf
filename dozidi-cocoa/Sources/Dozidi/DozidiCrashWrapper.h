#pragma once
#include <cstdint>
#include <memory>

/// What the crash recorder knows about the previous run and the device's resources. The default
/// answers "no crash" until the recorder reports one; tests install doubles.
class DozidiCrashWrapper {
 public:
  virtual ~DozidiCrashWrapper() = default;
  static std::shared_ptr<DozidiCrashWrapper> sharedInstance();

  virtual bool crashedLastLaunch() { return false; }
  /// True when a debugger (or any tracer) is attached to this process.
  virtual bool isBeingTraced();
  /// Seconds from the crash state's start to the last launch's crash; 0 when it did not crash.
  virtual double durationFromCrashStateInitToLastCrash();
  /// Seconds the app was active between its last crash and the crash itself.
  virtual double activeDurationSinceLastCrash() { return 0; }
  /// Free physical memory in bytes.
  virtual std::uint64_t freeMemorySize();
  /// Free bytes on the file system of the home folder.
  virtual std::uint64_t freeStorageSize();
  /// Resident memory of this process in bytes.
  virtual std::uint64_t appMemorySize();
};

/// Tells whether the last run ended by running out of memory. Until that logic exists it never does.
class DozidiOutOfMemoryLogic {
 public:
  virtual ~DozidiOutOfMemoryLogic() = default;
  virtual bool isOOM() { return false; }
};
