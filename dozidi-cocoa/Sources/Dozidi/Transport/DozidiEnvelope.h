#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiId.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiSdkInfo.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiTraceContext.h"
#include "platform/foundation/Value.h"

class DozidiClientReport;
class DozidiEvent;
class DozidiSession;
class DozidiUserFeedback;

/// Bytes or a file to send with an event as an "attachment" item. Immutable.
class DozidiAttachment {
 public:
  static constexpr const char* kDefaultContentType = "application/octet-stream";

  static std::shared_ptr<DozidiAttachment> initWithData(foundation::Data data, std::string filename,
                                                        std::string contentType = kDefaultContentType);
  /// The filename is the path's last component.
  static std::shared_ptr<DozidiAttachment> initWithPath(std::string path);
  static std::shared_ptr<DozidiAttachment> initWithPath(std::string path, std::string filename,
                                                        std::string contentType = kDefaultContentType);

  const std::optional<foundation::Data>& data() const { return data_; }
  const std::optional<std::string>& path() const { return path_; }
  const std::string& filename() const { return filename_; }
  const std::string& contentType() const { return contentType_; }

 private:
  DozidiAttachment() = default;
  std::optional<foundation::Data> data_;
  std::optional<std::string> path_;
  std::string filename_;
  std::string contentType_;
};

/// What an envelope is about: the event's id (none for session envelopes), the sending SDK and
/// the trace. An immutable value.
class DozidiEnvelopeHeader {
 public:
  /// The SDK info is the reporter's own name and version.
  explicit DozidiEnvelopeHeader(std::optional<DozidiId> eventId,
                                std::shared_ptr<const DozidiTraceContext> traceContext = nullptr);
  DozidiEnvelopeHeader(std::optional<DozidiId> eventId, std::optional<DozidiSdkInfo> sdkInfo,
                       std::shared_ptr<const DozidiTraceContext> traceContext);

  const std::optional<DozidiId>& eventId() const { return eventId_; }
  const std::optional<DozidiSdkInfo>& sdkInfo() const { return sdkInfo_; }
  const std::shared_ptr<const DozidiTraceContext>& traceContext() const { return traceContext_; }

 private:
  std::optional<DozidiId> eventId_;
  std::optional<DozidiSdkInfo> sdkInfo_;
  std::shared_ptr<const DozidiTraceContext> traceContext_;
};

/// The type and size of one item, and for attachments its file name and content type.
struct DozidiEnvelopeItemHeader {
  std::string type;
  std::uint64_t length = 0;
  std::optional<std::string> filename;
  std::optional<std::string> contentType;
};

/// One item of an envelope: its header and its opaque payload. Immutable.
class DozidiEnvelopeItem {
 public:
  DozidiEnvelopeItem(DozidiEnvelopeItemHeader header, foundation::Data data)
      : header_(std::move(header)), data_(std::move(data)) {}

  /// "transaction" for an event of that type, else "event". When the event cannot be written as
  /// JSON, the payload is a warning event that says so instead; this never fails.
  static std::shared_ptr<const DozidiEnvelopeItem> initWithEvent(DozidiEvent& event);
  static std::shared_ptr<const DozidiEnvelopeItem> initWithSession(const DozidiSession& session);
  /// An empty payload (and an error line) when the feedback cannot be written as JSON.
  static std::shared_ptr<const DozidiEnvelopeItem> initWithUserFeedback(const DozidiUserFeedback& feedback);
  /// An empty payload (and an error line) when the report cannot be written as JSON.
  static std::shared_ptr<const DozidiEnvelopeItem> initWithClientReport(const DozidiClientReport& report);
  /// None, with a log line, when the attachment is larger than `maxAttachmentSize` bytes (equal is
  /// kept), has neither bytes nor path, or its file cannot be examined or read.
  static std::shared_ptr<const DozidiEnvelopeItem> initWithAttachment(const DozidiAttachment& attachment,
                                                                      std::uint64_t maxAttachmentSize);

  const DozidiEnvelopeItemHeader& header() const { return header_; }
  const foundation::Data& data() const { return data_; }

 private:
  DozidiEnvelopeItemHeader header_;
  foundation::Data data_;
};

using DozidiEnvelopeItems = std::vector<std::shared_ptr<const DozidiEnvelopeItem>>;

/// The unit the reporter stores and sends: a header and items in order. Immutable.
class DozidiEnvelope {
 public:
  DozidiEnvelope(DozidiEnvelopeHeader header, DozidiEnvelopeItems items)
      : header_(std::move(header)), items_(std::move(items)) {}

  static std::shared_ptr<const DozidiEnvelope> initWithId(std::optional<DozidiId> eventId, DozidiEnvelopeItems items);
  /// One event item; the header carries the event's id.
  static std::shared_ptr<const DozidiEnvelope> initWithEvent(DozidiEvent& event);
  /// One "user_report" item; the header carries the feedback's event id.
  static std::shared_ptr<const DozidiEnvelope> initWithUserFeedback(const DozidiUserFeedback& feedback);
  /// One "session" item per session, in order; no event id.
  static std::shared_ptr<const DozidiEnvelope> initWithSessions(
      const std::vector<std::shared_ptr<DozidiSession>>& sessions);

  const DozidiEnvelopeHeader& header() const { return header_; }
  const DozidiEnvelopeItems& items() const { return items_; }

 private:
  DozidiEnvelopeHeader header_;
  DozidiEnvelopeItems items_;
};
