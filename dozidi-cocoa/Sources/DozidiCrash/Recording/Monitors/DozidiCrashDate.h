#pragma once

#include <ctime>

/// Bytes `dozidicrashdate_utcString` needs, terminator included.
inline constexpr int kDozidiCrashUTCStringLength = 21;

/// Writes the UTC time `seconds` as "YYYY-MM-DDTHH:MM:SSZ" into a buffer of 21 bytes.
void dozidicrashdate_utcString(time_t seconds, char* buffer21);
