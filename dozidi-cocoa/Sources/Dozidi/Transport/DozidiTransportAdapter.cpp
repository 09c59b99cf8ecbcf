#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiTransportAdapter.h"

#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiOptions.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiEvent.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiUserFeedback.h"

DozidiEnvelopeItems DozidiTransportAdapter::buildEnvelopeItems(DozidiEvent& event,
                                                               const DozidiAttachments& attachments) {
  DozidiEnvelopeItems items{DozidiEnvelopeItem::initWithEvent(event)};
  for (const auto& attachment : attachments) {
    if (!attachment) continue;
    if (auto item = DozidiEnvelopeItem::initWithAttachment(*attachment, options_->maxAttachmentSize)) {
      items.push_back(std::move(item));
    }
  }
  return items;
}

void DozidiTransportAdapter::sendEvent(DozidiEvent& event, const DozidiAttachments& attachments,
                                       std::shared_ptr<const DozidiTraceContext> traceContext,
                                       const DozidiEnvelopeItems& additionalEnvelopeItems) {
  auto items = buildEnvelopeItems(event, attachments);
  items.insert(items.end(), additionalEnvelopeItems.begin(), additionalEnvelopeItems.end());
  sendEnvelope(std::make_shared<const DozidiEnvelope>(DozidiEnvelopeHeader(event.eventId, std::move(traceContext)),
                                                      std::move(items)));
}

void DozidiTransportAdapter::sendEvent(DozidiEvent& event, const DozidiSession& session,
                                       const DozidiAttachments& attachments,
                                       std::shared_ptr<const DozidiTraceContext> traceContext) {
  auto items = buildEnvelopeItems(event, attachments);
  items.push_back(DozidiEnvelopeItem::initWithSession(session));
  sendEnvelope(std::make_shared<const DozidiEnvelope>(DozidiEnvelopeHeader(event.eventId, std::move(traceContext)),
                                                      std::move(items)));
}

void DozidiTransportAdapter::sendUserFeedback(const DozidiUserFeedback& userFeedback) {
  sendEnvelope(std::make_shared<const DozidiEnvelope>(DozidiEnvelopeHeader(userFeedback.eventId()),
                                                      DozidiEnvelopeItems{DozidiEnvelopeItem::initWithUserFeedback(userFeedback)}));
}

void DozidiTransportAdapter::sendEnvelope(std::shared_ptr<const DozidiEnvelope> envelope) {
  transport_->sendEnvelope(std::move(envelope));
}

void DozidiTransportAdapter::recordLostEvent(DozidiDataCategory category, DozidiDiscardReason reason) {
  transport_->recordLostEvent(category, reason);
}

bool DozidiTransportAdapter::flush(double timeout) { return transport_->flush(timeout); }
