#include "DozidiCrashLogger.h"

#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <string>

#include "DozidiCrashFileUtils.h"
#include "DozidiCrashFormat.h"

namespace {

constexpr std::size_t kLinePieceSize = 1024;

void writeAll(const char* text, std::size_t length) {
  // The log must not recurse into the file utilities' own error logging, so it loops here.
  while (length > 0) {
    const ssize_t written = ::write(STDOUT_FILENO, text, length);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    text += written;
    length -= static_cast<std::size_t>(written);
  }
}

std::size_t formatPrefix(char* buffer, const char* level, const char* file, unsigned line, const char* function) {
  const char* fileName = dozidicrashfu_lastPathEntry(file);
  return dozidicrashfmt_format(buffer, kLinePieceSize, "%s: %s (%u): %s: ", level, fileName, line, function);
}

}  // namespace

void dozidicrashlog_logWithFormat(const char* level, const char* file, unsigned line, const char* function,
                                  const char* format, ...) {
  const int savedErrno = errno;
  char buffer[kLinePieceSize];
  writeAll(buffer, formatPrefix(buffer, level, file, line, function));
  va_list args;
  va_start(args, format);
  const std::size_t length = dozidicrashfmt_vformat(buffer, sizeof buffer, format, args);
  va_end(args);
  writeAll(buffer, length);
  writeAll("\n", 1);
  errno = savedErrno;
}

void dozidicrashlog_logWithObjectFormat(const char* level, const char* file, unsigned line,
                                        const char* function, std::string_view message) {
  char prefix[kLinePieceSize];
  const std::size_t prefixLength = formatPrefix(prefix, level, file, line, function);
  std::string text(prefix, prefixLength);
  text.append(message.empty() ? std::string_view("(null)") : message);
  text.push_back('\n');
  writeAll(text.data(), text.size());
}
