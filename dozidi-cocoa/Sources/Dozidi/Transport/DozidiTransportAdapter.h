#pragma once
#include <memory>
#include <vector>

#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiEnvelope.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiTransport.h"

class DozidiEvent;
class DozidiOptions;
class DozidiSession;
class DozidiTraceContext;
class DozidiUserFeedback;

using DozidiAttachments = std::vector<std::shared_ptr<DozidiAttachment>>;

/// The client's way to the transport: turns events, sessions, feedback and attachments into
/// envelopes and passes envelopes, lost-event counts and flushes through. Keeps no state of its
/// own; runs on the caller's thread.
class DozidiTransportAdapter {
 public:
  DozidiTransportAdapter(std::shared_ptr<DozidiTransport> transport, std::shared_ptr<DozidiOptions> options)
      : transport_(std::move(transport)), options_(std::move(options)) {}

  /// The event, then each attachment within the options' maximum size (larger or unreadable
  /// ones are left out), then `additionalEnvelopeItems`; the header carries the event's id and
  /// the trace context when given.
  void sendEvent(DozidiEvent& event, const DozidiAttachments& attachments,
                 std::shared_ptr<const DozidiTraceContext> traceContext = nullptr,
                 const DozidiEnvelopeItems& additionalEnvelopeItems = {});
  /// The same with the session's update after the attachments.
  void sendEvent(DozidiEvent& event, const DozidiSession& session, const DozidiAttachments& attachments,
                 std::shared_ptr<const DozidiTraceContext> traceContext = nullptr);
  /// One "user_report" item; the header carries the feedback's event id.
  void sendUserFeedback(const DozidiUserFeedback& userFeedback);

  void sendEnvelope(std::shared_ptr<const DozidiEnvelope> envelope);
  void recordLostEvent(DozidiDataCategory category, DozidiDiscardReason reason);
  bool flush(double timeout);

  const std::shared_ptr<DozidiTransport>& transport() const { return transport_; }

 private:
  DozidiEnvelopeItems buildEnvelopeItems(DozidiEvent& event, const DozidiAttachments& attachments);

  std::shared_ptr<DozidiTransport> transport_;
  std::shared_ptr<DozidiOptions> options_;
};
