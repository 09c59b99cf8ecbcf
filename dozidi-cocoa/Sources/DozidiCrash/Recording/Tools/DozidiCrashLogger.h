#pragma once
#include <string_view>

/// The recorder's own log lines, written to standard error (where the reporter's diagnostic log
/// goes) with plain `write` calls from stack buffers so that they can be written from inside a crash
/// handler. Each line reads "<LEVEL>: <file> (<line>): <function>: <message>", where <file> is the
/// last path component and <LEVEL> is "DEBUG", "INFO", "WARN", "ERROR" or "FATAL".
///
/// A line prints only when the log is on and its level is at least the minimum, as the reporter's
/// diagnostic log decides; the reporter hands its switch and level over with
/// `dozidicrashlog_setThreshold`. Until then, as for the reporter, only errors and fatal lines print.

/// Levels as the reporter numbers them: 1 debug, 2 info, 3 warning, 4 error, 5 fatal.
/// Called from any thread; the crash path reads the threshold without a lock.
void dozidicrashlog_setThreshold(bool enabled, int minimumLevel);
/// True when a line of `level` (one of the names above) would print now. Runs during a crash.
bool dozidicrashlog_willLog(const char* level);

/// Runs during a crash: no allocation, no locks.
void dozidicrashlog_logWithFormat(const char* level, const char* file, unsigned line, const char* function,
                                  const char* format, ...) __attribute__((format(printf, 5, 6)));

/// The same line around a message that was already formatted by the caller (object-level code).
/// Not for the crash path.
void dozidicrashlog_logWithObjectFormat(const char* level, const char* file, unsigned line,
                                        const char* function, std::string_view message);

#define DOZIDICRASHLOG_ERROR(...) \
  dozidicrashlog_logWithFormat("ERROR", __FILE__, __LINE__, __func__, __VA_ARGS__)
#define DOZIDICRASHLOG_DEBUG(...) dozidicrashlog_logWithFormat("DEBUG", __FILE__, __LINE__, __func__, __VA_ARGS__)
