#pragma once
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Date.h"

namespace foundation {

// Date texts in fixed formats. Pure functions: they read no locale, time zone or shared state,
// so any thread may call them.

/// ISO 8601 in UTC with milliseconds, "yyyy-MM-dd'T'HH:mm:ss.SSS'Z'", e.g.
/// "2024-03-05T07:08:09.123Z". Milliseconds are cut, not rounded: the text names the millisecond
/// the date falls in (also before 1970). A date that is not finite gives an empty text.
std::string iso8601String(Date date);

/// Reads "yyyy-MM-dd'T'HH:mm:ss.SSS'Z'", else the same without ".SSS". Strict: every field has its
/// exact number of digits and a valid value, nothing precedes or follows; otherwise none.
std::optional<Date> parseISO8601Date(std::string_view text);

/// An HTTP date (RFC 1123, always in English and GMT), e.g. "Sun, 06 Nov 1994 08:49:37 GMT".
/// Fractions of a second are cut. A date that is not finite gives an empty text.
std::string httpDateString(Date date);

/// Reads an RFC 1123 HTTP date ("Sun, 06 Nov 1994 08:49:37 GMT"; "UTC" is taken as GMT) with
/// English day and month names whatever the process locale; otherwise none.
std::optional<Date> parseHTTPDate(std::string_view text);

}  // namespace foundation
