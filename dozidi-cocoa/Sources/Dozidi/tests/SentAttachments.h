#pragma once
// Test support: the attachments of the event envelopes an ingestion server received.
#include <string>
#include <vector>

#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiEnvelope.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiSerialization.h"
#include "testing/Gzip.h"
#include "testing/IngestionServer.h"

struct SentAttachment {
  std::string filename;
  std::string contentType;
  std::string bytes;
};

/// For each envelope with an event, in order of arrival: its attachments, in envelope order.
inline std::vector<std::vector<SentAttachment>> sentEventAttachments(const testing_support::IngestionServer& server) {
  std::vector<std::vector<SentAttachment>> result;
  for (const auto& request : server.requests()) {
    auto body = testing_support::gunzip(request.body);
    auto envelope = DozidiSerialization::envelopeWithData(body ? *body : request.body);
    if (!envelope) continue;
    bool hasEvent = false;
    std::vector<SentAttachment> attachments;
    for (const auto& item : envelope->items()) {
      if (item->header().type == "event") hasEvent = true;
      if (item->header().type != "attachment") continue;
      attachments.push_back({item->header().filename.value_or(""), item->header().contentType.value_or(""),
                             item->data().bytes()});
    }
    if (hasEvent) result.push_back(std::move(attachments));
  }
  return result;
}

/// The file names of `attachments`, in order.
inline std::vector<std::string> fileNames(const std::vector<SentAttachment>& attachments) {
  std::vector<std::string> names;
  for (const auto& attachment : attachments) names.push_back(attachment.filename);
  return names;
}
