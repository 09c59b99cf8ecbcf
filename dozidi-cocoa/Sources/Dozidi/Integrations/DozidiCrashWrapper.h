#pragma once
#include <cstdint>
#include <memory>

#include "platform/foundation/Value.h"

/// What the crash recorder knows about the previous run and the device's resources, read from
/// the recorder's state; every other part asks here, never the recorder. Tests install doubles.
class DozidiCrashWrapper {
 public:
  virtual ~DozidiCrashWrapper() = default;
  static std::shared_ptr<DozidiCrashWrapper> sharedInstance();

  /// Whether the recorder's crash state says the last launch crashed.
  virtual bool crashedLastLaunch();
  /// Whether the crash state has the app in the foreground.
  virtual bool isApplicationInForeground();
  /// The recorder's system facts, taken at the first call and the same ever after.
  virtual foundation::Dictionary systemInfo();
  virtual void installAsyncHooks();
  virtual void uninstallAsyncHooks();
  /// True for a build that runs in a device simulator; this platform has none.
  virtual bool isSimulatorBuild() { return false; }
  /// True when a debugger (or any tracer) is attached to this process.
  virtual bool isBeingTraced();
  /// Seconds from the crash state's start to the last launch's crash; 0 when it did not crash.
  virtual double durationFromCrashStateInitToLastCrash();
  /// Seconds the app was active between its last crash and the crash itself.
  virtual double activeDurationSinceLastCrash();
  /// Free physical memory in bytes.
  virtual std::uint64_t freeMemorySize();
  /// Free bytes on the file system of the home folder.
  virtual std::uint64_t freeStorageSize();
  /// Resident memory of this process in bytes.
  virtual std::uint64_t appMemorySize();
};
