#pragma once
#include <functional>
#include <string>

namespace uikit {

/// Where the toolkit's diagnostics go (unsatisfiable constraints and the like). By default they
/// are written to standard error, as the platform's console log is; tests install a sink.
class UIKitLog {
 public:
  using Sink = std::function<void(const std::string& line)>;
  static void write(const std::string& line);
  /// Replaces the sink; an empty one restores the default. Returns the previous sink.
  static Sink setSink(Sink sink);
};

}  // namespace uikit
