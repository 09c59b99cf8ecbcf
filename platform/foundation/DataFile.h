#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include "platform/foundation/Data.h"

namespace foundation {

class Error;
class URL;

/// How a data object reads a file. Accepted for the platform's signatures; every read loads the
/// whole file into memory.
enum DataReadingOptions : std::uint32_t {
  DataReadingMappedIfSafe = 1u << 0,
  DataReadingUncached = 1u << 1,
  DataReadingMappedAlways = 1u << 3,
};

/// How a data object writes a file.
enum DataWritingOptions : std::uint32_t {
  /// Through a temporary file in the same folder renamed into place: a reader sees the old or
  /// the new contents, never a mix, and a failed write leaves the old file untouched.
  DataWritingAtomic = 1u << 0,
  /// Fails with FileWriteFileExists (516) when the file exists; never replaces anything.
  DataWritingWithoutOverwriting = 1u << 1,
};

/// The file operations of the platform's data object, as plain functions: the implementations the
/// data object's methods run (see the runtime's NSData class, through which the app reads and
/// writes so that its file I/O can be observed). Safe from any thread.
///
/// Failures are FileManager's errors (Cocoa domain, "cannot read PATH: reason",
/// "cannot write PATH: reason"), stored in `*error` when `error` is not null.

/// The whole contents of the file at `path`; none on failure.
std::optional<Data> readDataFromFile(const std::string& path, std::uint32_t readingOptions, Error* error);
/// The contents of the file a file URL names; none on failure, also for any other scheme.
std::optional<Data> readDataFromURL(const URL& url, std::uint32_t readingOptions, Error* error);
/// Writes `data` to `path` as `writingOptions` say; false on failure. A non-atomic write that
/// fails part-way leaves a short file, as the platform's does.
bool writeDataToFile(const Data& data, const std::string& path, std::uint32_t writingOptions, Error* error);

}  // namespace foundation
