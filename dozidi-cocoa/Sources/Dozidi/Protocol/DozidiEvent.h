#pragma once
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiEventLevel.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiException.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiId.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiMessage.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiRequest.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiStacktrace.h"
#include "dozidi-cocoa/Sources/Dozidi/Scope/DozidiBreadcrumb.h"
#include "dozidi-cocoa/Sources/Dozidi/Scope/DozidiUser.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiDebugImageProvider.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Value.h"

/// One error report: a message, an error or a crash with everything known around it. A plain
/// mutable record without a lock: the client fills it on one thread before it is sent.
class DozidiEvent {
 public:
  /// Level none.
  static std::shared_ptr<DozidiEvent> create();
  /// A new random id, `level`, platform "cocoa" and the reporter's clock's date as timestamp.
  static std::shared_ptr<DozidiEvent> initWithLevel(DozidiEventLevel level);
  /// Level error, with the error the event is about (never serialised).
  static std::shared_ptr<DozidiEvent> initWithError(const foundation::Error& error);

  DozidiId eventId;
  std::shared_ptr<DozidiMessage> message;
  std::optional<foundation::Error> error;
  std::optional<foundation::Date> timestamp;
  std::optional<foundation::Date> startTimestamp;
  DozidiEventLevel level = DozidiEventLevel::None;
  std::string platform = "cocoa";
  std::optional<std::string> logger, serverName, releaseName, dist, environment, transaction, type;
  /// Texts by name.
  std::optional<foundation::Dictionary> tags;
  std::optional<foundation::Dictionary> extra;
  std::optional<foundation::Dictionary> sdk;
  /// Texts by name.
  std::optional<foundation::Dictionary> modules;
  std::optional<std::vector<std::string>> fingerprint;
  std::shared_ptr<DozidiUser> user;
  /// Dictionaries by context name.
  std::optional<foundation::Dictionary> context;
  std::optional<std::vector<std::shared_ptr<DozidiThread>>> threads;
  std::optional<std::vector<std::shared_ptr<DozidiException>>> exceptions;
  std::shared_ptr<DozidiStacktrace> stacktrace;
  std::optional<std::vector<std::shared_ptr<DozidiDebugMeta>>> debugMeta;
  /// None and an empty list differ: the scope only fills an event that has none.
  std::optional<std::vector<std::shared_ptr<DozidiBreadcrumb>>> breadcrumbs;
  std::shared_ptr<DozidiRequest> request;
  bool isCrashEvent = false;
  /// Breadcrumbs already in their dictionary form, sent after `breadcrumbs`.
  std::optional<foundation::Array> serializedBreadcrumbs;

  /// The event's dictionary; an event without a timestamp takes the clock's date first. Absent
  /// fields have no key; "platform" is always "cocoa"; "extra" never carries the reporter's own
  /// "__dozidi" entries.
  virtual foundation::Dictionary serialize();
  /// The event's compact JSON text, as `DozidiSerialization::dataWithJSONObject` writes
  /// `serialize()`: none, with the error (code 104) and its log line, when JSON cannot hold it.
  /// Kinds of event with many parts write some of them straight into the text instead.
  virtual std::optional<foundation::Data> jsonData(foundation::Error* error);

  virtual ~DozidiEvent() = default;

 protected:
  DozidiEvent() = default;
};
