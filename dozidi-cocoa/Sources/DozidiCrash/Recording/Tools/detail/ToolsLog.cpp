#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/detail/ToolsLog.h"

#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace dozidicrash::detail {

namespace {

void writeAll(const char* text, std::size_t length) {
  while (length > 0) {
    ssize_t n = ::write(STDOUT_FILENO, text, length);
    if (n <= 0) return;
    text += n;
    length -= static_cast<std::size_t>(n);
  }
}

}  // namespace

void logToolsError(const char* file, unsigned line, const char* function, const char* format, ...) {
  const char* slash = std::strrchr(file, '/');
  char prefix[1024];
  int n = std::snprintf(prefix, sizeof prefix, "%s: %s (%u): %s: ", "ERROR", slash != nullptr ? slash + 1 : file, line, function);
  if (n > 0) writeAll(prefix, std::strlen(prefix));
  char message[1024];
  va_list arguments;
  va_start(arguments, format);
  n = std::vsnprintf(message, sizeof message, format, arguments);
  va_end(arguments);
  if (n > 0) writeAll(message, std::strlen(message));
  writeAll("\n", 1);
}

}  // namespace dozidicrash::detail
