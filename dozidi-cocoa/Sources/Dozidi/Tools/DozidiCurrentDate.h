#pragma once
#include <cstdint>
#include <memory>

#include "platform/foundation/Date.h"

/// A source of the current time for the reporter, replaceable in tests.
class DozidiCurrentDateProvider {
 public:
  virtual ~DozidiCurrentDateProvider() = default;
  virtual foundation::Date date() = 0;
  /// The dispatch clock's "now": monotonic seconds of the process clock's uptime.
  virtual double dispatchTimeNow() = 0;
  /// Seconds east of GMT of the local time zone at this moment.
  virtual std::int64_t timezoneOffset() = 0;
};

/// The process clock (the injectable clock of the dispatch layer) and the local time zone.
class DozidiDefaultCurrentDateProvider final : public DozidiCurrentDateProvider {
 public:
  static std::shared_ptr<DozidiDefaultCurrentDateProvider> sharedInstance();
  foundation::Date date() override;
  double dispatchTimeNow() override;
  std::int64_t timezoneOffset() override;
};

/// The reporter's clock: every date the reporter takes comes from here. The provider is held
/// behind a lock, so it may be replaced while other threads read the clock.
class DozidiCurrentDate {
 public:
  DozidiCurrentDate() = delete;
  /// The provider's date; the default provider is installed first when none is set.
  static foundation::Date date();
  static double dispatchTimeNow();
  /// Installs `provider`; none makes the next read install the default provider again.
  static void setCurrentDateProvider(std::shared_ptr<DozidiCurrentDateProvider> provider);
  /// The installed provider; none when none has been installed yet.
  static std::shared_ptr<DozidiCurrentDateProvider> getCurrentDateProvider();
};
