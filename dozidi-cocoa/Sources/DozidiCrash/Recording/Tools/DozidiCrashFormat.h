#pragma once
#include <cstdarg>
#include <cstddef>
#include <cstdint>

/// Text formatting that is safe inside a crash handler: no allocation, no locale, no lock.
/// The C library's printf family is not async-signal-safe, so the recorder formats its paths,
/// log lines and numbers with these.

/// Runs during a crash: no allocation, no locks.
/// Formats `format` into `buffer` (always NUL-terminated when `capacity` > 0; longer output is cut)
/// and returns the number of bytes written. Understands %s %c %d %i %u %x %X %p %% with the length
/// modifiers l, ll and z, a '0' flag and a width (as in "%016llx" or "%04d").
std::size_t dozidicrashfmt_vformat(char* buffer, std::size_t capacity, const char* format, va_list args);

/// Runs during a crash: no allocation, no locks.
std::size_t dozidicrashfmt_format(char* buffer, std::size_t capacity, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

/// Runs during a crash: no allocation, no locks.
/// The decimal text of `value` into `buffer` (at least 21 bytes); returns its length.
std::size_t dozidicrashfmt_int64(char* buffer, std::int64_t value);

/// Runs during a crash: no allocation, no locks.
/// The system's description of `errnum` (a static text, never null).
const char* dozidicrashfmt_errorText(int errnum);
