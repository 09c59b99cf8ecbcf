#pragma once
#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/foundation/ValueFwd.h"

namespace fendrel::cli {

/// Where the command line writes: results on the process's original standard output, diagnostics
/// on standard error. Every line is written whole, so threads may write at once.
///
/// The app's own console lines (analytics "TRACK ..." lines and the like) are printed through the
/// platform console, which writes to the standard-output stream; takeOverStandardOutput() points
/// that stream at standard error, so that standard output carries only what this program writes.
class EventLog {
 public:
  /// The process's one log. Never destroyed.
  static EventLog& shared();

  /// Keeps the original standard output for results and sends everything else that writes to
  /// standard output to standard error. Called once, first thing in main, before any thread.
  void takeOverStandardOutput();

  /// When set, event lines go to standard error (commands whose result is a listing keep standard
  /// output for the listing).
  void setEventsToStandardError(bool toStandardError);

  /// Writes `event` as one compact JSON line: {"event": name, ...fields}. Fields that cannot be
  /// written as JSON are written as their description.
  void event(std::string_view name, const foundation::Dictionary& fields);
  /// Writes one compact JSON line of `value` to the result stream.
  void result(const foundation::Value& value);
  /// Writes `text` (a line break is added) to the result stream.
  void text(std::string_view text);
  /// Writes `text` (a line break is added) to standard error.
  void diagnostic(std::string_view text);

  /// The compact JSON text of `value` (slashes unescaped); values JSON cannot hold are written as
  /// their description.
  static std::string jsonText(const foundation::Value& value);

 private:
  void writeLine(std::FILE* stream, std::string_view line);

  std::mutex mutex_;
  std::FILE* results_ = stdout;
  bool eventsToStandardError_ = false;
};

}  // namespace fendrel::cli
