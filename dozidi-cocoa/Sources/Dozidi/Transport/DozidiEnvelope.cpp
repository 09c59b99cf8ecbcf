#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiEnvelope.h"

#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiEvent.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiMeta.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiSession.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiUserFeedback.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiLog.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiClientReport.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiSerialization.h"
#include "platform/foundation/FileManager.h"

using foundation::Data;

namespace {

std::shared_ptr<const DozidiEnvelopeItem> jsonItem(const char* type, Data payload) {
  const auto length = payload.size();
  return std::make_shared<const DozidiEnvelopeItem>(DozidiEnvelopeItemHeader{type, length, {}, {}},
                                                    std::move(payload));
}

// The payload of an event whose own dictionary JSON cannot hold: a warning event that names it,
// so that the service still learns that something went wrong.
Data conversionErrorEventPayload(const DozidiEvent& event) {
  auto replacement = DozidiEvent::initWithLevel(DozidiEventLevel::Warning);
  const std::string original = event.message ? event.message->description() : "(null)";
  replacement->message =
      DozidiMessage::initWithFormatted("JSON conversion error for event with message: '" + original + "'");
  replacement->releaseName = event.releaseName;
  replacement->environment = event.environment;
  replacement->platform = event.platform;
  replacement->timestamp = event.timestamp;
  return DozidiSerialization::dataWithJSONObject(replacement->serialize(), nullptr).value_or(Data());
}

}  // namespace

std::shared_ptr<DozidiAttachment> DozidiAttachment::initWithData(Data data, std::string filename,
                                                                 std::string contentType) {
  auto attachment = std::shared_ptr<DozidiAttachment>(new DozidiAttachment());
  attachment->data_ = std::move(data);
  attachment->filename_ = std::move(filename);
  attachment->contentType_ = std::move(contentType);
  return attachment;
}

std::shared_ptr<DozidiAttachment> DozidiAttachment::initWithPath(std::string path) {
  const auto slash = path.find_last_of('/');
  std::string filename = slash == std::string::npos ? path : path.substr(slash + 1);
  return initWithPath(std::move(path), std::move(filename));
}

std::shared_ptr<DozidiAttachment> DozidiAttachment::initWithPath(std::string path, std::string filename,
                                                                 std::string contentType) {
  auto attachment = std::shared_ptr<DozidiAttachment>(new DozidiAttachment());
  attachment->path_ = std::move(path);
  attachment->filename_ = std::move(filename);
  attachment->contentType_ = std::move(contentType);
  return attachment;
}

DozidiEnvelopeHeader::DozidiEnvelopeHeader(std::optional<DozidiId> eventId,
                                           std::shared_ptr<const DozidiTraceContext> traceContext)
    : DozidiEnvelopeHeader(std::move(eventId), DozidiSdkInfo(DozidiMeta::sdkName(), DozidiMeta::versionString()),
                           std::move(traceContext)) {}

DozidiEnvelopeHeader::DozidiEnvelopeHeader(std::optional<DozidiId> eventId, std::optional<DozidiSdkInfo> sdkInfo,
                                           std::shared_ptr<const DozidiTraceContext> traceContext)
    : eventId_(std::move(eventId)), sdkInfo_(std::move(sdkInfo)), traceContext_(std::move(traceContext)) {}

std::shared_ptr<const DozidiEnvelopeItem> DozidiEnvelopeItem::initWithEvent(DozidiEvent& event) {
  foundation::Error error("", 0);
  auto payload = event.jsonData(&error);
  if (!payload) payload = conversionErrorEventPayload(event);
  return jsonItem(event.type == "transaction" ? "transaction" : "event", std::move(*payload));
}

std::shared_ptr<const DozidiEnvelopeItem> DozidiEnvelopeItem::initWithSession(const DozidiSession& session) {
  return jsonItem("session", DozidiSerialization::dataWithJSONObject(session.serialize(), nullptr).value_or(Data()));
}

std::shared_ptr<const DozidiEnvelopeItem> DozidiEnvelopeItem::initWithUserFeedback(
    const DozidiUserFeedback& feedback) {
  auto payload = DozidiSerialization::dataWithJSONObject(feedback.serialize(), nullptr);
  if (!payload) DozidiLog::logWithMessage("Couldn't serialize user feedback.", DozidiEventLevel::Error);
  return jsonItem("user_report", payload.value_or(Data()));
}

std::shared_ptr<const DozidiEnvelopeItem> DozidiEnvelopeItem::initWithClientReport(const DozidiClientReport& report) {
  auto payload = DozidiSerialization::dataWithJSONObject(report.serialize(), nullptr);
  if (!payload) DozidiLog::logWithMessage("Couldn't serialize client report.", DozidiEventLevel::Error);
  return jsonItem("client_report", payload.value_or(Data()));
}

std::shared_ptr<const DozidiEnvelopeItem> DozidiEnvelopeItem::initWithAttachment(const DozidiAttachment& attachment,
                                                                                 std::uint64_t maxAttachmentSize) {
  Data payload;
  if (const auto& data = attachment.data()) {
    if (data->size() > maxAttachmentSize) {
      DozidiLog::logWithMessage("Dropping attachment with filename '" + attachment.filename() +
                                    "', because the size of the passed data with " + std::to_string(data->size()) +
                                    " bytes is bigger than the maximum allowed attachment size of " +
                                    std::to_string(maxAttachmentSize) + " bytes.",
                                DozidiEventLevel::Debug);
      return nullptr;
    }
    payload = *data;
  } else if (!attachment.path()) {
    DozidiLog::logWithMessage("Couldn't init Attachment.", DozidiEventLevel::Error);
    return nullptr;
  } else {
    const auto& path = *attachment.path();
    const auto& files = foundation::FileManager::defaultManager();
    auto attributes = files.attributesOfItem(path);
    if (!attributes) {
      DozidiLog::logWithMessage("Couldn't check file size of attachment with path: " + path +
                                    ". Error: " + attributes.error().localizedDescription(),
                                DozidiEventLevel::Error);
      return nullptr;
    }
    const auto tooLarge = [&](std::uint64_t size) {
      DozidiLog::logWithMessage("Dropping attachment, because the size of the it located at '" + path + "' with " +
                                    std::to_string(size) +
                                    " bytes is bigger than the maximum allowed attachment size of " +
                                    std::to_string(maxAttachmentSize) + " bytes.",
                                DozidiEventLevel::Debug);
      return nullptr;
    };
    if (attributes->size > maxAttachmentSize) return tooLarge(attributes->size);
    auto contents = files.readFile(path);
    if (!contents) {
      DozidiLog::logWithMessage("Couldn't init Attachment.", DozidiEventLevel::Error);
      return nullptr;
    }
    // The file may have grown between the size check and the read; the limit holds for what
    // would be sent.
    if (contents->size() > maxAttachmentSize) return tooLarge(contents->size());
    payload = std::move(*contents);
  }
  const auto length = payload.size();
  return std::make_shared<const DozidiEnvelopeItem>(
      DozidiEnvelopeItemHeader{"attachment", length, attachment.filename(), attachment.contentType()},
      std::move(payload));
}

std::shared_ptr<const DozidiEnvelope> DozidiEnvelope::initWithId(std::optional<DozidiId> eventId,
                                                                 DozidiEnvelopeItems items) {
  return std::make_shared<const DozidiEnvelope>(DozidiEnvelopeHeader(std::move(eventId)), std::move(items));
}

std::shared_ptr<const DozidiEnvelope> DozidiEnvelope::initWithEvent(DozidiEvent& event) {
  return initWithId(event.eventId, {DozidiEnvelopeItem::initWithEvent(event)});
}

std::shared_ptr<const DozidiEnvelope> DozidiEnvelope::initWithUserFeedback(const DozidiUserFeedback& feedback) {
  return initWithId(feedback.eventId(), {DozidiEnvelopeItem::initWithUserFeedback(feedback)});
}

std::shared_ptr<const DozidiEnvelope> DozidiEnvelope::initWithSessions(
    const std::vector<std::shared_ptr<DozidiSession>>& sessions) {
  DozidiEnvelopeItems items;
  for (const auto& session : sessions) {
    if (session) items.push_back(DozidiEnvelopeItem::initWithSession(*session));
  }
  return initWithId(std::nullopt, std::move(items));
}
