#pragma once

/// Replaces the data object's five file methods with wrappers that run them through the shared
/// DozidiNSDataTracker. The replacement is made once per process and never removed; stopping
/// disables the tracker, after which the wrappers only pass calls through.
class DozidiNSDataSwizzling {
 public:
  /// Enables the tracker, then replaces the methods (the first time).
  static void start();
  static void stop();
};
