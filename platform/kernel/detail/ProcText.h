#pragma once
// Small async-signal-safe helpers for reading /proc files and formatting numbers without stdio.

#include <cstddef>
#include <cstdint>

namespace kernel::detail {

/// Reads at most `capacity - 1` bytes of the file at `path` into `buffer` and terminates it.
/// Returns the byte count, or -1 when the file cannot be opened or read.
/// Runs during a crash: no allocation, no locks.
long readSmallFile(const char* path, char* buffer, std::size_t capacity);

/// Writes `value` in decimal at `out` (no terminator) and returns the digit count (at most 20).
/// Runs during a crash: no allocation, no locks.
int formatDecimal(std::uint64_t value, char* out);

/// Finds the line starting with `key` (e.g. "TracerPid:") in `text` and parses the unsigned
/// decimal number after it, skipping blanks. False when the key or the number is missing.
/// Runs during a crash: no allocation, no locks.
bool findNumberAfterKey(const char* text, const char* key, std::uint64_t* value);

}  // namespace kernel::detail
