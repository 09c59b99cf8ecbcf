#include "dozidi-cocoa/Sources/Dozidi/Integrations/DozidiCrashReportSink.h"

#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiHub.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiSDK.h"
#include "dozidi-cocoa/Sources/Dozidi/Integrations/DozidiCrashReportConverter.h"
#include "dozidi-cocoa/Sources/Dozidi/Integrations/DozidiCrashWrapper.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiEvent.h"
#include "dozidi-cocoa/Sources/Dozidi/Scope/DozidiScope.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiDispatchQueueWrapper.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiLog.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiEnvelope.h"

using foundation::Array;
using foundation::Value;

DozidiCrashReportSink::DozidiCrashReportSink(std::shared_ptr<const DozidiInAppLogic> inAppLogic,
                                             std::shared_ptr<DozidiCrashWrapper> crashWrapper,
                                             std::shared_ptr<DozidiDispatchQueueWrapper> dispatchQueue)
    : inAppLogic_(std::move(inAppLogic)), crashWrapper_(std::move(crashWrapper)), dispatchQueue_(std::move(dispatchQueue)) {}

void DozidiCrashReportSink::filterReports(Array reports, DozidiCrashReportFilterCompletion onCompletion) {
  const double duration = crashWrapper_->durationFromCrashStateInitToLastCrash();
  if (duration > 0 && duration <= kStartupCrashDuration) {
    DOZIDI_LOG_WARN("Startup crash: detected.");
    sendReports(reports, onCompletion);
    DozidiSDK::flush(kStartupFlushTimeout);
    DOZIDI_LOG_DEBUG("Startup crash: Finished flushing.");
    return;
  }
  // The sink keeps itself alive until its queued send ran.
  auto self = shared_from_this();
  dispatchQueue_->dispatchAsyncWithBlock([self, reports = std::move(reports), onCompletion = std::move(onCompletion)] {
    self->sendReports(reports, onCompletion);
  });
}

void DozidiCrashReportSink::sendReports(const Array& reports, const DozidiCrashReportFilterCompletion& onCompletion) {
  Array sent;
  bool missingClient = false;
  for (const Value& report : reports) {
    const foundation::Dictionary* dictionary = report.dictionary();
    if (!DozidiSDK::currentHub()->getClient()) {
      DOZIDI_LOG_ERROR(
          "Crash reports were found but no [DozidiSDK.currentHub getClient] is set. Cannot send crash reports to "
          "Dozidi. This is probably a misconfiguration, make sure you set the client with [DozidiSDK.currentHub "
          "bindClient] before calling startCrashHandlerWithError:.");
      missingClient = true;
      continue;
    }
    if (dictionary == nullptr) continue;
    DozidiCrashReportConverter converter(*dictionary, inAppLogic_);
    if (auto event = converter.convertReportToEvent()) handleConvertedEvent(std::move(event), report, sent);
  }
  if (missingClient) {
    // Nothing was delivered: the reports stay on disk for a launch that has a client.
    dozidicrash_callCompletion(onCompletion, sent, false,
                               foundation::Error::withDescription("DozidiCrash", 0, "No client bound: crash reports were kept for a later launch."));
    return;
  }
  dozidicrash_callCompletion(onCompletion, sent, true, std::nullopt);
}

void DozidiCrashReportSink::handleConvertedEvent(std::shared_ptr<DozidiEvent> event, const Value& report, Array& sentReports) {
  sentReports.push_back(report);
  auto hub = DozidiSDK::currentHub();
  auto scope = DozidiScope::initWithScope(*hub->scope());
  if (const Array* attachments = report["attachments"].array()) {
    for (const Value& path : *attachments) {
      if (const std::string* text = path.string()) scope->addAttachment(DozidiAttachment::initWithPath(*text));
    }
  }
  hub->captureCrashEvent(std::move(event), *scope);
}
