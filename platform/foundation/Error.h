#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/Value.h"

namespace foundation {

/// User-info key of the localised description.
inline constexpr const char* kLocalizedDescriptionKey = "NSLocalizedDescription";
/// User-info key of the error that caused this one (its value holds an Error).
inline constexpr const char* kUnderlyingErrorKey = "NSUnderlyingError";
/// User-info key of a debugging description.
inline constexpr const char* kDebugDescriptionKey = "NSDebugDescription";
/// User-info key of the file path an error is about.
inline constexpr const char* kFilePathErrorKey = "NSFilePath";

/// Domains of the platform's own errors.
inline constexpr const char* kCocoaErrorDomain = "NSCocoaErrorDomain";
inline constexpr const char* kPOSIXErrorDomain = "NSPOSIXErrorDomain";
inline constexpr const char* kURLErrorDomain = "NSURLErrorDomain";

/// Codes of the Cocoa domain that the file and serialisation stand-ins report.
enum class CocoaError : std::int64_t {
  FileNoSuchFile = 4,
  FileReadUnknown = 256,
  FileReadNoPermission = 257,
  FileReadNoSuchFile = 260,
  FileWriteUnknown = 512,
  FileWriteNoPermission = 513,
  FileWriteFileExists = 516,
  FileWriteOutOfSpace = 640,
  PropertyListReadCorrupt = 3840,  ///< also the JSON reader's code
  PropertyListWriteInvalid = 3851,
};

/// Codes of the URL domain that the URL-session stand-in reports.
enum class URLError : std::int64_t {
  Unknown = -1,
  Cancelled = -999,
  BadURL = -1000,
  TimedOut = -1001,
  UnsupportedURL = -1002,
  CannotFindHost = -1003,
  CannotConnectToHost = -1004,
  NetworkConnectionLost = -1005,
  HTTPTooManyRedirects = -1007,
  ResourceUnavailable = -1008,
  BadServerResponse = -1011,
  CannotDecodeContentData = -1016,
  FileDoesNotExist = -1100,
  DataLengthExceedsMaximum = -1103,
  CannotCreateFile = -3000,
  CannotWriteToFile = -3003,
};

/// An error value: a domain, a code and a user-info dictionary (the platform's NSError).
class Error {
 public:
  Error(std::string domain, std::int64_t code, Dictionary userInfo = {});
  /// An error whose localised description is `description`.
  static Error withDescription(std::string domain, std::int64_t code, std::string description);
  static Error cocoa(CocoaError code, std::string description);
  static Error url(URLError code, std::string description);
  /// A POSIX error from `errno`, described as "what: strerror(errnum)".
  static Error posix(int errnum, const std::string& what);

  const std::string& domain() const { return domain_; }
  std::int64_t code() const { return code_; }
  const Dictionary& userInfo() const { return userInfo_; }
  /// The user info's description, else "The operation couldn’t be completed. (<domain> error <code>.)".
  std::string localizedDescription() const;
  /// The error under kUnderlyingErrorKey, if any.
  std::optional<Error> underlyingError() const;

  bool is(std::string_view domain, std::int64_t code) const { return domain_ == domain && code_ == code; }
  friend bool operator==(const Error& a, const Error& b) {
    return a.domain_ == b.domain_ && a.code_ == b.code_ && a.userInfo_ == b.userInfo_;
  }

 private:
  std::string domain_;
  std::int64_t code_;
  Dictionary userInfo_;
};

}  // namespace foundation
