#pragma once
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiFrame.h"
#include "platform/foundation/Value.h"

/// The frames of one stack, caller first and innermost last, with the registers of its thread.
/// A plain record without a lock.
class DozidiStacktrace {
 public:
  static std::shared_ptr<DozidiStacktrace> initWithFrames(std::vector<std::shared_ptr<DozidiFrame>> frames,
                                                          foundation::Dictionary registers);

  std::vector<std::shared_ptr<DozidiFrame>> frames;
  foundation::Dictionary registers;
  std::optional<bool> snapshot;

  /// "frames" (the frames whose dictionary is not empty, when any is left), "registers" (when not
  /// empty) and "snapshot" (when set).
  foundation::Dictionary serialize() const;

 private:
  DozidiStacktrace() = default;
};

/// One thread of the process as an event reports it. A plain record without a lock.
class DozidiThread {
 public:
  static std::shared_ptr<DozidiThread> initWithThreadId(std::optional<foundation::Number> threadId);

  std::optional<foundation::Number> threadId;
  std::optional<std::string> name;
  std::shared_ptr<DozidiStacktrace> stacktrace;
  std::optional<bool> crashed;
  std::optional<bool> current;

  /// "id" (99 when the thread has none), then "crashed", "current", "name" and "stacktrace", each
  /// only when set.
  foundation::Dictionary serialize() const;

 private:
  DozidiThread() = default;
};
