#pragma once
#include <string>

/// The identifier of this installation of the app, kept in the file "INSTALLATION" in the caches
/// folder (36 upper-case UUID characters, no line end). The client puts it on events that carry
/// no user. Any thread may ask; the file is read or created once per process.
class DozidiInstallation {
 public:
  DozidiInstallation() = delete;
  /// The id in the file; a missing, empty, unreadable or non-UTF-8 file is replaced by a new id.
  /// When the new id cannot be written it is still used for the rest of this run.
  static std::string id();
  /// Forgets the id read by this process, so that the next id() reads the file again.
  static void resetCachedIdForTesting();
};
