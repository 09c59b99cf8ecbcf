#pragma once
#include <memory>

#include "dozidi-cocoa/Sources/DozidiCrash/Reporting/Filters/DozidiCrashReportFilter.h"

class DozidiCrashWrapper;
class DozidiDispatchQueueWrapper;
class DozidiEvent;
class DozidiInAppLogic;

/// The last filter of the delivery road: turns each stored report into a fatal event and
/// captures it through the current hub, with a copy of the hub's scope and the report's
/// attachment files. A crash within two seconds of the crash state's start (a start-up crash) is
/// sent on the calling thread and flushed, bounded by the flush timeout, so that an app that
/// keeps crashing at start still delivers it; any other crash is sent on the sink's queue and
/// never blocks the caller.
///
/// The completion receives the reports that were handed over and YES; with no client bound to the
/// current hub it receives NO and an error, so that the reports stay on disk for a later launch.
class DozidiCrashReportSink final : public DozidiCrashReportFilter,
                                    public std::enable_shared_from_this<DozidiCrashReportSink> {
 public:
  /// The longest a crash may follow the crash state's start and still count as a start-up crash.
  static constexpr double kStartupCrashDuration = 2.0;
  /// Seconds the start-up road waits for the event to be sent.
  static constexpr double kStartupFlushTimeout = 5.0;

  /// Made with std::make_shared: a queued send keeps the sink alive.
  DozidiCrashReportSink(std::shared_ptr<const DozidiInAppLogic> inAppLogic, std::shared_ptr<DozidiCrashWrapper> crashWrapper,
                        std::shared_ptr<DozidiDispatchQueueWrapper> dispatchQueue);

  void filterReports(foundation::Array reports, DozidiCrashReportFilterCompletion onCompletion) override;
  void sendReports(const foundation::Array& reports, const DozidiCrashReportFilterCompletion& onCompletion);

 private:
  void handleConvertedEvent(std::shared_ptr<DozidiEvent> event, const foundation::Value& report,
                            foundation::Array& sentReports);

  std::shared_ptr<const DozidiInAppLogic> inAppLogic_;
  std::shared_ptr<DozidiCrashWrapper> crashWrapper_;
  std::shared_ptr<DozidiDispatchQueueWrapper> dispatchQueue_;
};
