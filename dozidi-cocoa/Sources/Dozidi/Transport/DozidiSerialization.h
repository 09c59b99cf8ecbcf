#pragma once
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiEventLevel.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiEnvelope.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Value.h"

class DozidiSession;

/// The envelope text format (the cache files and, gzipped, the request bodies) and the JSON codecs
/// of sessions and event levels. Keeps no state: any thread may call it.
///
/// Envelope text: the header as one compact JSON line; then per item "\n", the item header as one
/// compact JSON line, "\n" and exactly "length" payload bytes; nothing after the last payload.
class DozidiSerialization {
 public:
  DozidiSerialization() = delete;

  /// The compact JSON of `object`. When JSON cannot hold it: none, and when `error` is given, the
  /// line "Invalid JSON: <reason>" and an error with code 104 ("Event cannot be converted to
  /// JSON") whose underlying error names the reason.
  static std::optional<foundation::Data> dataWithJSONObject(const foundation::Value& object, foundation::Error* error);

  /// The envelope's text. Each item header states the real length of its payload, so a reader
  /// always slices the payloads as they were written. None (and code 104 in `error`) when a
  /// header cannot be written; nothing partial is returned.
  static std::optional<foundation::Data> dataWithEnvelope(const DozidiEnvelope& envelope, foundation::Error* error);

  /// Reads envelope text. None when there is no header line, the header or an item header is not
  /// a JSON object, or no item could be read. Reading stops, keeping the items read so far, at an
  /// item header without a "type" and at one whose "length" is not a non-negative integer or runs
  /// past the end of the data. Never reads outside `data`.
  static std::shared_ptr<const DozidiEnvelope> envelopeWithData(std::string_view data);

  /// The compact JSON of the session's dictionary.
  static std::optional<foundation::Data> dataWithSession(const DozidiSession& session, foundation::Error* error);
  /// Reads a session; none (with an error line) for bad JSON, a dictionary that is no session, or
  /// a session without a release name.
  static std::shared_ptr<DozidiSession> sessionWithData(std::string_view data);

  /// The "level" of an event payload; error when it cannot be read or names no level.
  static DozidiEventLevel levelFromData(std::string_view data);

  /// The "baggage" header text of `dictionary`: "key=value" entries of the percent-encoded
  /// descriptions (letters, marks, digits, "-", "_" and "." stay; every other UTF-8 byte becomes
  /// "%XX"), taken in the dictionary's order while the text stays within 8192 UTF-16 units
  /// (commas included; an entry that does not fit is skipped), sorted and joined by ",".
  static std::string baggageEncodedDictionary(const foundation::Dictionary& dictionary);
  /// The entries of a "baggage" header text: pieces separated by "," that hold exactly one "=";
  /// keys as they stand, values percent-decoded. A value whose encoding is malformed removes its
  /// key; a later key replaces an earlier one.
  static foundation::Dictionary decodeBaggage(std::string_view text);
};
