#pragma once
#include <compare>

namespace foundation {

/// A point in time: seconds since the reference date 2001-01-01 00:00:00 UTC.
struct Date {
  /// Seconds between 1970-01-01 and the reference date.
  static constexpr double kReferenceFrom1970 = 978307200.0;

  double timeIntervalSinceReferenceDate = 0.0;

  static Date fromTimeIntervalSince1970(double seconds) { return Date{seconds - kReferenceFrom1970}; }
  static Date referenceDate() { return Date{0.0}; }
  /// The wall-clock time of the process clock (the injectable clock of platform/dispatch).
  static Date now();

  double timeIntervalSince1970() const { return timeIntervalSinceReferenceDate + kReferenceFrom1970; }
  double timeIntervalSince(Date other) const {
    return timeIntervalSinceReferenceDate - other.timeIntervalSinceReferenceDate;
  }
  Date addingTimeInterval(double seconds) const { return Date{timeIntervalSinceReferenceDate + seconds}; }

  friend auto operator<=>(const Date&, const Date&) = default;
};

}  // namespace foundation
