#pragma once
#include <memory>
#include <string>
#include <string_view>

namespace foundation {

/// The process's standard-output sink for the lines the system prints. Tests capture it.
/// Safe from any thread; each line is written whole.
class Console {
 public:
  /// Writes `line` followed by a newline to standard output, or to the innermost capture.
  static void print(std::string_view line);

  /// While alive and started (tests start one through tests/ConsoleCapture.h), takes every
  /// printed line instead of standard output.
  class Capture {
   public:
    Capture() = default;
    ~Capture();
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;
    /// Everything printed since the capture began, each line ending in a newline.
    std::string text() const;

   private:
    std::string text_;
    friend class Console;
  };
};

}  // namespace foundation
