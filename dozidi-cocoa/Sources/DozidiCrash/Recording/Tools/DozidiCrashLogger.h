#pragma once
#include <string_view>

/// The recorder's own log lines, written to standard output with plain `write` calls from stack
/// buffers so that they can be written from inside a crash handler. Each line reads
/// "<LEVEL>: <file> (<line>): <function>: <message>", where <file> is the last path component.

/// Runs during a crash: no allocation, no locks.
void dozidicrashlog_logWithFormat(const char* level, const char* file, unsigned line, const char* function,
                                  const char* format, ...) __attribute__((format(printf, 5, 6)));

/// The same line around a message that was already formatted by the caller (object-level code).
/// Not for the crash path.
void dozidicrashlog_logWithObjectFormat(const char* level, const char* file, unsigned line,
                                        const char* function, std::string_view message);

#define DOZIDICRASHLOG_ERROR(...) \
  dozidicrashlog_logWithFormat("ERROR", __FILE__, __LINE__, __func__, __VA_ARGS__)
