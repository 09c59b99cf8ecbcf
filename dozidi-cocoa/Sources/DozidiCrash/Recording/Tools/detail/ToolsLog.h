#pragma once
// The recorder's error line for the low-level tools: "ERROR: <file> (<line>): <function>: <message>"
// on standard output, written with plain write calls from stack buffers.

namespace dozidicrash::detail {

/// Formats and writes one line. Works in a crash handler: stack buffers and write only.
void logToolsError(const char* file, unsigned line, const char* function, const char* format, ...)
    __attribute__((format(printf, 4, 5)));

}  // namespace dozidicrash::detail

#define DOZIDICRASH_TOOLS_LOG_ERROR(...) \
  ::dozidicrash::detail::logToolsError(__FILE__, __LINE__, __func__, __VA_ARGS__)
