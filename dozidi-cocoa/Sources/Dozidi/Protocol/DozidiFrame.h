#pragma once
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Value.h"

/// One frame of a stack trace. Addresses are hexadecimal texts. A plain record without a lock.
class DozidiFrame {
 public:
  /// A frame whose function is "<redacted>" and nothing else set.
  static std::shared_ptr<DozidiFrame> create();

  std::optional<std::string> symbolAddress, fileName, function, module, package, imageAddress, platform,
      instructionAddress;
  std::optional<foundation::Number> lineNumber, columnNumber, inApp, stackStart;

  /// "symbol_addr", "filename", "function", "module", "lineno", "colno", "package", "image_addr",
  /// "instruction_addr", "platform", "in_app" and "stack_start", each only when set.
  foundation::Dictionary serialize() const;

 private:
  DozidiFrame() = default;
};

/// Cuts the reporter's own frames off the innermost end of a stack.
class DozidiFrameRemover {
 public:
  /// The frames from the first one that is not the reporter's to the end. A frame is the
  /// reporter's when its package, lower-cased and without any "users/dozidi" (a home folder of
  /// that name), contains "dozidi". When every frame is the reporter's, or there is none, the
  /// frames come back unchanged.
  static std::vector<std::shared_ptr<DozidiFrame>> removeNonSdkFrames(
      const std::vector<std::shared_ptr<DozidiFrame>>& frames);
};
