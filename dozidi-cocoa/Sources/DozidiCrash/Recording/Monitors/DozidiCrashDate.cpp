#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Monitors/DozidiCrashDate.h"

namespace {

// Writes `value` as `width` digits (modulo 10^width) and returns the position after them.
char* writeDigits(char* out, long value, int width) {
  if (value < 0) value = -value;
  for (int i = width - 1; i >= 0; --i) {
    out[i] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
  return out + width;
}

}  // namespace

void dozidicrashdate_utcString(time_t seconds, char* buffer21) {
  tm utc{};
  gmtime_r(&seconds, &utc);
  char* out = writeDigits(buffer21, utc.tm_year + 1900L, 4);
  *out++ = '-';
  out = writeDigits(out, utc.tm_mon + 1, 2);
  *out++ = '-';
  out = writeDigits(out, utc.tm_mday, 2);
  *out++ = 'T';
  out = writeDigits(out, utc.tm_hour, 2);
  *out++ = ':';
  out = writeDigits(out, utc.tm_min, 2);
  *out++ = ':';
  out = writeDigits(out, utc.tm_sec, 2);
  *out++ = 'Z';
  *out = '\0';
}
