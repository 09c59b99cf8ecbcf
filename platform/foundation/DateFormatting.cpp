#include "platform/foundation/DateFormatting.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>

namespace foundation {
namespace {

constexpr std::int64_t kSecondsPerDay = 86400;
constexpr std::array<const char*, 7> kDayNames = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr std::array<const char*, 12> kMonthNames = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
// Beyond this many milliseconds from 1970 (about 285,000 years) the arithmetic below would
// leave 64 bits; such dates have no text.
constexpr double kMaxMilliseconds = 9.0e18;

struct CivilTime {
  std::int64_t year;
  int month;  // 1...12
  int day;    // 1...31
  int hour, minute, second, millisecond;
  int weekday;  // 0 = Sunday
};

std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
  std::int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

// Days since 1970-01-01 of a proleptic Gregorian date, and back (H. Hinnant's algorithms), so that
// no time zone, locale or time_t range takes part.
std::int64_t daysFromCivil(std::int64_t y, int m, int d) {
  y -= m <= 2;
  const std::int64_t era = floorDiv(y, 400);
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void civilFromDays(std::int64_t z, CivilTime& t) {
  z += 719468;
  const std::int64_t era = floorDiv(z, 146097);
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  t.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  t.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  t.year = yoe + era * 400 + (t.month <= 2);
}

std::optional<CivilTime> civilTime(Date date) {
  const double exact = date.timeIntervalSince1970() * 1000.0;
  // Dates are kept as seconds since 2001 in a double, so a date read from a text that names a
  // whole millisecond may come back a rounding error below it; flooring that would name the
  // millisecond before. Within a microsecond (or a few units in the last place, for dates far
  // from 2001) below a boundary, the boundary is taken.
  const double boundary = std::ceil(exact);
  const double tolerance = std::max(1e-3, std::fabs(exact) * 1e-15);
  const double ms = boundary - exact < tolerance ? boundary : std::floor(exact);
  if (!std::isfinite(ms) || std::fabs(ms) > kMaxMilliseconds) return std::nullopt;
  const auto totalMs = static_cast<std::int64_t>(ms);
  const std::int64_t seconds = floorDiv(totalMs, 1000);
  const std::int64_t days = floorDiv(seconds, kSecondsPerDay);
  const std::int64_t secondOfDay = seconds - days * kSecondsPerDay;
  CivilTime t{};
  civilFromDays(days, t);
  t.hour = static_cast<int>(secondOfDay / 3600);
  t.minute = static_cast<int>(secondOfDay / 60 % 60);
  t.second = static_cast<int>(secondOfDay % 60);
  t.millisecond = static_cast<int>(totalMs - seconds * 1000);
  t.weekday = static_cast<int>((days + 4) - floorDiv(days + 4, 7) * 7);  // 1970-01-01 was a Thursday
  return t;
}

std::string yearText(std::int64_t year) {
  char buf[32];
  const int n = year < 0 ? std::snprintf(buf, sizeof buf, "-%04lld", static_cast<long long>(-year))
                         : std::snprintf(buf, sizeof buf, "%04lld", static_cast<long long>(year));
  return std::string(buf, static_cast<std::size_t>(n));
}

bool isLeapYear(std::int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int daysInMonth(std::int64_t year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && isLeapYear(year) ? 29 : kDays[month - 1];
}

/// Reads exactly `count` decimal digits at `pos`, advancing it.
std::optional<int> digits(std::string_view text, std::size_t& pos, std::size_t count) {
  if (pos + count > text.size()) return std::nullopt;
  int value = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const char c = text[pos + i];
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  pos += count;
  return value;
}

bool literal(std::string_view text, std::size_t& pos, std::string_view expected) {
  if (text.substr(pos, expected.size()) != expected) return false;
  pos += expected.size();
  return true;
}

template <std::size_t N>
std::optional<int> nameIndex(std::string_view text, std::size_t& pos, const std::array<const char*, N>& names) {
  for (std::size_t i = 0; i < N; ++i) {
    if (literal(text, pos, names[i])) return static_cast<int>(i);
  }
  return std::nullopt;
}

std::optional<Date> dateFromFields(int year, int month, int day, int hour, int minute, int second,
                                   int millisecond) {
  if (month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month)) return std::nullopt;
  if (hour > 23 || minute > 59 || second > 59) return std::nullopt;
  const std::int64_t seconds =
      daysFromCivil(year, month, day) * kSecondsPerDay + hour * 3600 + minute * 60 + second;
  // One division of the whole count of milliseconds rounds once, to the nearest double.
  return Date::fromTimeIntervalSince1970(static_cast<double>(seconds * 1000 + millisecond) / 1000.0);
}

}  // namespace

std::string iso8601String(Date date) {
  const auto t = civilTime(date);
  if (!t) return {};
  if (t->year >= 0 && t->year <= 9999) {
    // The common case without the formatted-print machinery: the reporter writes this text for
    // every breadcrumb of every event.
    char text[24];
    const auto put = [&text](int at, int value, int width) {
      for (int i = width - 1; i >= 0; --i, value /= 10) text[at + i] = static_cast<char>('0' + value % 10);
    };
    put(0, static_cast<int>(t->year), 4);
    text[4] = '-';
    put(5, t->month, 2);
    text[7] = '-';
    put(8, t->day, 2);
    text[10] = 'T';
    put(11, t->hour, 2);
    text[13] = ':';
    put(14, t->minute, 2);
    text[16] = ':';
    put(17, t->second, 2);
    text[19] = '.';
    put(20, t->millisecond, 3);
    text[23] = 'Z';
    return std::string(text, sizeof text);
  }
  char buf[48];
  const int n = std::snprintf(buf, sizeof buf, "-%02d-%02dT%02d:%02d:%02d.%03dZ", t->month, t->day, t->hour,
                              t->minute, t->second, t->millisecond);
  return yearText(t->year) + std::string(buf, static_cast<std::size_t>(n));
}

std::optional<Date> parseISO8601Date(std::string_view text) {
  std::size_t pos = 0;
  const auto year = digits(text, pos, 4);
  if (!year || !literal(text, pos, "-")) return std::nullopt;
  const auto month = digits(text, pos, 2);
  if (!month || !literal(text, pos, "-")) return std::nullopt;
  const auto day = digits(text, pos, 2);
  if (!day || !literal(text, pos, "T")) return std::nullopt;
  const auto hour = digits(text, pos, 2);
  if (!hour || !literal(text, pos, ":")) return std::nullopt;
  const auto minute = digits(text, pos, 2);
  if (!minute || !literal(text, pos, ":")) return std::nullopt;
  const auto second = digits(text, pos, 2);
  if (!second) return std::nullopt;
  std::optional<int> millisecond = 0;
  if (literal(text, pos, ".")) millisecond = digits(text, pos, 3);
  if (!millisecond || !literal(text, pos, "Z") || pos != text.size()) return std::nullopt;
  return dateFromFields(*year, *month, *day, *hour, *minute, *second, *millisecond);
}

std::string httpDateString(Date date) {
  const auto t = civilTime(date);
  if (!t) return {};
  char buf[32];
  std::snprintf(buf, sizeof buf, "%s, %02d %s ", kDayNames[static_cast<std::size_t>(t->weekday)], t->day,
                kMonthNames[static_cast<std::size_t>(t->month - 1)]);
  char time[32];
  std::snprintf(time, sizeof time, " %02d:%02d:%02d GMT", t->hour, t->minute, t->second);
  return buf + yearText(t->year) + time;
}

std::optional<Date> parseHTTPDate(std::string_view text) {
  std::size_t pos = 0;
  if (!nameIndex(text, pos, kDayNames) || !literal(text, pos, ", ")) return std::nullopt;
  // The day has two digits in the standard form; one digit is accepted as servers send it.
  auto day = digits(text, pos, 2);
  if (!day) day = digits(text, pos, 1);
  if (!day || !literal(text, pos, " ")) return std::nullopt;
  const auto month = nameIndex(text, pos, kMonthNames);
  if (!month || !literal(text, pos, " ")) return std::nullopt;
  const auto year = digits(text, pos, 4);
  if (!year || !literal(text, pos, " ")) return std::nullopt;
  const auto hour = digits(text, pos, 2);
  if (!hour || !literal(text, pos, ":")) return std::nullopt;
  const auto minute = digits(text, pos, 2);
  if (!minute || !literal(text, pos, ":")) return std::nullopt;
  const auto second = digits(text, pos, 2);
  if (!second || !literal(text, pos, " ")) return std::nullopt;
  if (!literal(text, pos, "GMT") && !literal(text, pos, "UTC")) return std::nullopt;
  if (pos != text.size()) return std::nullopt;
  return dateFromFields(*year, *month + 1, *day, *hour, *minute, *second, 0);
}

}  // namespace foundation
