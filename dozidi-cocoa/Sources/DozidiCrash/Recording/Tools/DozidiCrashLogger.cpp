#include "DozidiCrashLogger.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <string>

#include "DozidiCrashFileUtils.h"
#include "DozidiCrashFormat.h"
#include "platform/foundation/SystemCalls.h"

namespace {

constexpr std::size_t kLinePieceSize = 1024;
constexpr int kErrorLevel = 4;

// Lock-free so that a crash handler may read them.
std::atomic<bool> logEnabled{true};
std::atomic<int> minimumLevel{kErrorLevel};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free);

// The reporter's number for a level name; unknown names count as errors, so they are not lost.
int levelNumber(const char* level) {
  if (level == nullptr) return kErrorLevel;
  if (std::strcmp(level, "DEBUG") == 0 || std::strcmp(level, "TRACE") == 0) return 1;
  if (std::strcmp(level, "INFO") == 0) return 2;
  if (std::strcmp(level, "WARN") == 0) return 3;
  if (std::strcmp(level, "FATAL") == 0) return 5;
  return kErrorLevel;
}

void writeAll(const char* text, std::size_t length) {
  // The log must not recurse into the file utilities' own error logging, so it loops here.
  while (length > 0) {
    const ssize_t written = foundation::retryOnInterrupt([&] { return ::write(STDERR_FILENO, text, length); });
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

void dozidicrashlog_setThreshold(bool enabled, int level) {
  minimumLevel.store(level, std::memory_order_relaxed);
  logEnabled.store(enabled, std::memory_order_relaxed);
}

bool dozidicrashlog_willLog(const char* level) {
  return logEnabled.load(std::memory_order_relaxed) &&
         levelNumber(level) >= minimumLevel.load(std::memory_order_relaxed);
}

void dozidicrashlog_logWithFormat(const char* level, const char* file, unsigned line, const char* function,
                                  const char* format, ...) {
  if (!dozidicrashlog_willLog(level)) return;
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
  if (!dozidicrashlog_willLog(level)) return;
  char prefix[kLinePieceSize];
  const std::size_t prefixLength = formatPrefix(prefix, level, file, line, function);
  std::string text(prefix, prefixLength);
  text.append(message.empty() ? std::string_view("(null)") : message);
  text.push_back('\n');
  writeAll(text.data(), text.size());
}
