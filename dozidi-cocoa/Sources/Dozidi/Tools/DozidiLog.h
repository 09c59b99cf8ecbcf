#pragma once
#include <memory>
#include <string>

#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiEventLevel.h"

/// Where the reporter's diagnostic lines go: the system log (standard error). Replace it with
/// `DozidiLog::setLogOutput` to capture the lines. Called from any thread.
class DozidiLogOutput {
 public:
  virtual ~DozidiLogOutput() = default;
  /// Writes `line` unchanged as one line.
  virtual void log(const std::string& line);
};

/// The reporter's diagnostic log. Process-wide: a switch (on at first), a minimum level (error at
/// first) and an output, all behind one lock, so the start may reconfigure it while other threads
/// log. Before the start only error and fatal lines are printed; the start sets both from the
/// options.
class DozidiLog {
 public:
  DozidiLog() = delete;

  static void configure(bool isDebug, DozidiEventLevel diagnosticLevel);
  /// Hands "[Dozidi] [<level name>] <message>" to the output, unless the level is none, the switch
  /// is off or the level is below the minimum.
  static void logWithMessage(const std::string& message, DozidiEventLevel level);
  /// True when a line of `level` would be printed now.
  static bool willLog(DozidiEventLevel level);
  /// Logs `message` behind the call site's prefix "[<file base name>:<line>] ".
  static void logFromCallSite(const char* file, int line, DozidiEventLevel level, const std::string& message);

  static void setLogOutput(std::shared_ptr<DozidiLogOutput> output);
  /// The output in use; none until a first line was logged or an output was set.
  static std::shared_ptr<DozidiLogOutput> logOutput();
  static bool isDebug();
  static DozidiEventLevel diagnosticLevel();
};

// Logging from the reporter's own classes: each line carries the source file's base name (the
// class's name) and the line of the call. The message is only built when the line will print.
#define DOZIDI_LOG(level, message)                                                   \
  do {                                                                               \
    if (DozidiLog::willLog(level)) DozidiLog::logFromCallSite(__FILE__, __LINE__, level, (message)); \
  } while (0)
#define DOZIDI_LOG_DEBUG(message) DOZIDI_LOG(DozidiEventLevel::Debug, message)
#define DOZIDI_LOG_INFO(message) DOZIDI_LOG(DozidiEventLevel::Info, message)
#define DOZIDI_LOG_WARN(message) DOZIDI_LOG(DozidiEventLevel::Warning, message)
#define DOZIDI_LOG_ERROR(message) DOZIDI_LOG(DozidiEventLevel::Error, message)
#define DOZIDI_LOG_FATAL(message) DOZIDI_LOG(DozidiEventLevel::Fatal, message)
