#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Value.h"

namespace foundation {
class Error;
}

// Helpers over the platform's values that the whole reporter shares: JSON-safe copies of user
// data, gzip for request bodies, the reporter's one date text and a deep dictionary merge.
// Every function is pure and may be called from any thread.

/// A copy of `dictionary` that JSON can hold: entries whose key begins with "__dozidi" are left
/// out; strings and numbers stay; dictionaries and arrays are sanitised the same way; dates become
/// their ISO 8601 text; anything else becomes its description.
foundation::Dictionary dozidi_sanitize(const foundation::Dictionary& dictionary);
/// The same for the elements of an array (nothing is left out of an array).
foundation::Array dozidi_sanitize(const foundation::Array& array);

/// The gzip stream (deflate with a 15-bit window, gzip header and trailer) of `data` at zlib
/// compression `level` (-1 is zlib's default). Empty data gives empty data. Any failure of zlib
/// gives none and, when `error` is given, an error with code 103; a stream is only returned whole.
std::optional<foundation::Data> dozidi_gzippedWithCompressionLevel(const foundation::Data& data, int level,
                                                                  foundation::Error* error);
/// A copy of `data` with one 0 byte appended; none for none.
std::optional<foundation::Data> dozidi_nullTerminated(const std::optional<foundation::Data>& data);

/// The reporter's date text, "yyyy-MM-dd'T'HH:mm:ss.SSS'Z'" in UTC.
std::string dozidi_toIso8601String(foundation::Date date);
/// Reads the reporter's date text, else the same without milliseconds; none when neither fits.
std::optional<foundation::Date> dozidi_fromIso8601String(std::string_view text);

/// True when the user's time format (LC_TIME of the environment) shows hours 0 to 23, that is
/// when it has no AM/PM part. A locale that is not installed reads as the POSIX locale (24-hour).
bool dozidi_timeIs24HourFormat();

/// Deep merge into `receiver`: where both hold a dictionary under the same key the two are merged
/// by this same rule; otherwise the value of `other` replaces the receiver's.
void mergeEntriesFromDictionary(foundation::Dictionary& receiver, const foundation::Dictionary& other);

/// Byte counts for descriptions: "1,023 bytes", "1 KB", "5 GB" (units up to GB, rounded down).
class DozidiByteCountFormatter {
 public:
  static std::string bytesCountDescription(std::uint64_t bytes);
};
