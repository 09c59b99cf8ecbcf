#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiEvent.h"

#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiCurrentDate.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiFoundationHelpers.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiSerialization.h"

using foundation::Array;
using foundation::Dictionary;

namespace {

void setIfPresent(Dictionary& result, const char* key, const std::optional<std::string>& text) {
  if (text) result.set(key, *text);
}

template <class Record>
void setValues(Dictionary& result, const char* key, const char* listKey,
               const std::optional<std::vector<std::shared_ptr<Record>>>& records) {
  if (!records || records->empty()) return;
  Array values;
  values.reserve(records->size());
  for (const auto& record : *records) {
    if (record) values.push_back(record->serialize());
  }
  result.set(key, Dictionary{{listKey, std::move(values)}});
}

}  // namespace

std::shared_ptr<DozidiEvent> DozidiEvent::create() { return initWithLevel(DozidiEventLevel::None); }

std::shared_ptr<DozidiEvent> DozidiEvent::initWithLevel(DozidiEventLevel level) {
  auto event = std::shared_ptr<DozidiEvent>(new DozidiEvent());
  event->level = level;
  event->timestamp = DozidiCurrentDate::date();
  return event;
}

std::shared_ptr<DozidiEvent> DozidiEvent::initWithError(const foundation::Error& error) {
  auto event = initWithLevel(DozidiEventLevel::Error);
  event->error = error;
  return event;
}

Dictionary DozidiEvent::serialize() {
  if (!timestamp) timestamp = DozidiCurrentDate::date();
  Dictionary result;
  result.reserve(24);
  result.set("event_id", eventId.dozidiIdString());
  result.set("timestamp", timestamp->timeIntervalSince1970());
  result.set("platform", "cocoa");
  if (level != DozidiEventLevel::None) result.set("level", nameForDozidiLevel(level));
  if (sdk) result.set("sdk", dozidi_sanitize(*sdk));
  setIfPresent(result, "release", releaseName);
  setIfPresent(result, "dist", dist);
  setIfPresent(result, "environment", environment);
  if (transaction) {
    result.set("transaction", *transaction);
  } else if (extra) {
    if (const auto* hidden = extra->find("__dozidi_transaction")) result.set("transaction", *hidden);
  }
  if (fingerprint) {
    Array prints;
    for (const auto& print : *fingerprint) prints.push_back(print);
    result.set("fingerprint", std::move(prints));
  }
  if (user) result.set("user", user->serialize());
  if (modules) result.set("modules", *modules);
  if (stacktrace) result.set("stacktrace", stacktrace->serialize());

  Array crumbs;
  if (breadcrumbs) {
    crumbs.reserve(breadcrumbs->size());
    for (const auto& crumb : *breadcrumbs) {
      if (crumb) crumbs.push_back(crumb->serialize());
    }
  }
  if (serializedBreadcrumbs) {
    for (const auto& crumb : *serializedBreadcrumbs) crumbs.push_back(crumb);
  }
  if (!crumbs.empty()) result.set("breadcrumbs", std::move(crumbs));

  if (context) result.set("contexts", dozidi_sanitize(*context));
  if (message) result.set("message", message->serialize());
  setIfPresent(result, "logger", logger);
  setIfPresent(result, "server_name", serverName);
  setIfPresent(result, "type", type);
  if (type == "transaction") {
    result.set("start_timestamp", startTimestamp.value_or(*timestamp).timeIntervalSince1970());
  }
  if (request) result.set("request", request->serialize());
  setValues(result, "threads", "values", threads);
  setValues(result, "exception", "values", exceptions);
  setValues(result, "debug_meta", "images", debugMeta);
  if (extra) result.set("extra", dozidi_sanitize(*extra));
  if (tags) result.set("tags", *tags);
  return result;
}

std::optional<foundation::Data> DozidiEvent::jsonData(foundation::Error* error) {
  return DozidiSerialization::dataWithJSONObject(serialize(), error);
}
