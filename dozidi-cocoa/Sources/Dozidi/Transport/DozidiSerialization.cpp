#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiSerialization.h"

#include <utf8proc.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiError.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiSession.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiLog.h"
#include "dozidi-cocoa/Sources/Dozidi/detail/DozidiText.h"
#include "platform/foundation/JSONSerialization.h"
#include "platform/foundation/URL.h"
#include "platform/foundation/UTF8.h"

using foundation::Data;
using foundation::Dictionary;
using foundation::JSONSerialization;
using foundation::Value;

namespace {

void logError(const std::string& message) { DozidiLog::logWithMessage(message, DozidiEventLevel::Error); }

/// Parses one line that must hold a JSON object.
foundation::Result<Dictionary> parseObjectLine(std::string_view line) {
  auto parsed = JSONSerialization::JSONObjectWithData(line);
  if (!parsed) return parsed.error();
  if (auto* object = parsed->mutableDictionary()) return std::move(*object);
  return foundation::Error::withDescription(foundation::kCocoaErrorDomain, 3840, "the line is not a JSON object");
}

DozidiEnvelopeHeader readHeader(const Dictionary& json) {
  std::optional<DozidiId> eventId;
  if (const auto text = json["event_id"].asString()) eventId = DozidiId::initWithUUIDString(*text);
  std::optional<DozidiSdkInfo> sdkInfo;
  if (json.contains("sdk")) sdkInfo = DozidiSdkInfo::initWithDict(json);
  std::shared_ptr<const DozidiTraceContext> trace;
  if (const auto* traceDict = json["trace"].dictionary()) trace = DozidiTraceContext::initWithDict(*traceDict);
  return DozidiEnvelopeHeader(std::move(eventId), std::move(sdkInfo), std::move(trace));
}

/// The item's declared length: 0 when absent, none when it is not a non-negative integer.
std::optional<std::uint64_t> declaredLength(const Dictionary& json) {
  const Value& length = json["length"];
  if (length.isAbsent()) return 0;
  const auto* number = length.number();
  if (!number || !number->isInteger()) return std::nullopt;
  return number->exactUInt64();
}

bool appendJSONLine(std::string& out, const Dictionary& object, foundation::Error* error, const char* what) {
  auto json = JSONSerialization::dataWithJSONObject(object);
  if (!json) {
    logError(std::string(what) + " cannot be converted to JSON.");
    if (error) {
      *error = NSErrorFromDozidiErrorWithUnderlyingError(DozidiError::JsonConversionError,
                                                         std::string(what) + " cannot be converted to JSON",
                                                         json.error());
    }
    return false;
  }
  out += *json;
  return true;
}

// The longest baggage text, in UTF-16 units, commas included.
constexpr std::size_t kMaxBaggageLength = 8192;

bool staysInBaggage(utf8proc_int32_t codePoint) {
  if (codePoint == '-' || codePoint == '_' || codePoint == '.') return true;
  switch (utf8proc_category(codePoint)) {
    case UTF8PROC_CATEGORY_LU:
    case UTF8PROC_CATEGORY_LL:
    case UTF8PROC_CATEGORY_LT:
    case UTF8PROC_CATEGORY_LM:
    case UTF8PROC_CATEGORY_LO:
    case UTF8PROC_CATEGORY_MN:
    case UTF8PROC_CATEGORY_MC:
    case UTF8PROC_CATEGORY_ME:
    case UTF8PROC_CATEGORY_ND:
    case UTF8PROC_CATEGORY_NL:
    case UTF8PROC_CATEGORY_NO:
      return true;
    default:
      return false;
  }
}

void percentEncodeByte(std::string& out, unsigned char byte) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  out += '%';
  out += kHex[byte >> 4];
  out += kHex[byte & 0x0f];
}

/// `text` percent-encoded for baggage, and its length in UTF-16 units.
std::string baggageEncoded(std::string_view text, std::size_t& utf16Length) {
  std::string out;
  const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
  std::size_t at = 0;
  while (at < text.size()) {
    utf8proc_int32_t codePoint = -1;
    const auto used = utf8proc_iterate(bytes + at, static_cast<utf8proc_ssize_t>(text.size() - at), &codePoint);
    if (used <= 0) {
      // A byte that starts no character is encoded on its own.
      percentEncodeByte(out, bytes[at]);
      utf16Length += 3;
      ++at;
      continue;
    }
    if (staysInBaggage(codePoint)) {
      out.append(text.substr(at, static_cast<std::size_t>(used)));
      utf16Length += codePoint > 0xFFFF ? 2 : 1;
    } else {
      for (utf8proc_ssize_t i = 0; i < used; ++i) percentEncodeByte(out, bytes[at + static_cast<std::size_t>(i)]);
      utf16Length += 3 * static_cast<std::size_t>(used);
    }
    at += static_cast<std::size_t>(used);
  }
  return out;
}

/// The percent-decoded text; none when a "%" is not followed by two hexadecimal digits or the
/// result is not UTF-8.
std::optional<std::string> percentDecoded(std::string_view text) {
  auto out = foundation::percentDecode(text);
  if (!out || !foundation::isValidUTF8(*out)) return std::nullopt;
  return out;
}

}  // namespace

std::optional<Data> DozidiSerialization::dataWithJSONObject(const Value& object, foundation::Error* error) {
  auto json = JSONSerialization::dataWithJSONObject(object);
  if (json) return Data(std::move(*json));
  if (error) {
    logError("Invalid JSON: " + json.error().localizedDescription());
    *error = NSErrorFromDozidiErrorWithUnderlyingError(DozidiError::JsonConversionError,
                                                       "Event cannot be converted to JSON", json.error());
  }
  return std::nullopt;
}

std::optional<Data> DozidiSerialization::dataWithEnvelope(const DozidiEnvelope& envelope, foundation::Error* error) {
  const auto& header = envelope.header();
  Dictionary headerJSON;
  if (header.eventId()) headerJSON.set("event_id", header.eventId()->dozidiIdString());
  if (header.sdkInfo()) {
    for (const auto& [key, value] : header.sdkInfo()->serialize()) headerJSON.set(key, value);
  }
  if (header.traceContext()) headerJSON.set("trace", header.traceContext()->serialize());

  std::size_t total = 256;
  for (const auto& item : envelope.items()) total += item->data().size() + 128;
  std::string out;
  out.reserve(total);
  if (!appendJSONLine(out, headerJSON, error, "Envelope header")) return std::nullopt;

  for (const auto& item : envelope.items()) {
    const auto& itemHeader = item->header();
    Dictionary itemJSON;
    itemJSON.set("type", itemHeader.type);
    if (itemHeader.filename) itemJSON.set("filename", *itemHeader.filename);
    if (itemHeader.contentType) itemJSON.set("content_type", *itemHeader.contentType);
    // The payload's real size, whatever the header declares: a length that disagrees with the
    // bytes written would make every reader slice this and all later items wrongly.
    itemJSON.set("length", static_cast<std::uint64_t>(item->data().size()));
    out += '\n';
    if (!appendJSONLine(out, itemJSON, error, "Envelope item header")) return std::nullopt;
    out += '\n';
    out += item->data().view();
  }
  return Data(std::move(out));
}

std::shared_ptr<const DozidiEnvelope> DozidiSerialization::envelopeWithData(std::string_view data) {
  const auto headerEnd = data.find('\n');
  if (data.empty() || headerEnd == std::string_view::npos) {
    logError("Invalid envelope. No header found.");
    return nullptr;
  }
  auto headerJSON = parseObjectLine(data.substr(0, headerEnd));
  if (!headerJSON) {
    logError("Failed to parse envelope header " + headerJSON.error().localizedDescription());
    logError("Invalid envelope. No header found.");
    return nullptr;
  }
  DozidiEnvelopeHeader header = readHeader(*headerJSON);

  DozidiEnvelopeItems items;
  const std::size_t size = data.size();
  std::size_t start = headerEnd + 1;
  // The first item header starts right after the header's newline; later ones are searched from
  // one byte after the previous payload, so the separator written before them is not a line end.
  std::size_t scanFrom = start;
  while (scanFrom < size) {
    const void* newline = std::memchr(data.data() + scanFrom, '\n', size - scanFrom);
    const std::size_t lineEnd = newline ? static_cast<std::size_t>(static_cast<const char*>(newline) - data.data())
                                        : size;
    const std::size_t payloadStart = newline ? lineEnd + 1 : size;

    auto itemJSON = parseObjectLine(data.substr(start, lineEnd - start));
    if (!itemJSON) {
      logError("Failed to parse envelope item header " + itemJSON.error().localizedDescription());
      return nullptr;
    }
    const auto type = (*itemJSON)["type"].asString();
    if (!type) {
      logError("Envelope item type is required.");
      break;
    }
    const auto length = declaredLength(*itemJSON);
    if (!length) {
      logError("Envelope item length is not a non-negative integer.");
      break;
    }
    const std::size_t available = size - payloadStart;
    if (*length > available) {
      if (available == 0) {
        logError("Envelope item has no data but header indicates it's length is " +
                 std::to_string(static_cast<std::int32_t>(*length)) + ".");
      } else {
        logError("Envelope item length " + std::to_string(*length) + " runs past the end of the data.");
      }
      break;
    }
    DozidiEnvelopeItemHeader itemHeader{*type, *length, {}, {}};
    auto filename = (*itemJSON)["filename"].asString();
    auto contentType = (*itemJSON)["content_type"].asString();
    if (filename && contentType) {
      itemHeader.filename = std::move(filename);
      itemHeader.contentType = std::move(contentType);
    }
    items.push_back(std::make_shared<const DozidiEnvelopeItem>(
        std::move(itemHeader), Data(std::string(data.substr(payloadStart, *length)))));
    start = payloadStart + *length;
    scanFrom = start + 1;
  }

  if (items.empty()) {
    logError("Envelope has no items.");
    return nullptr;
  }
  return std::make_shared<const DozidiEnvelope>(std::move(header), std::move(items));
}

std::optional<Data> DozidiSerialization::dataWithSession(const DozidiSession& session, foundation::Error* error) {
  return dataWithJSONObject(session.serialize(), error);
}

std::shared_ptr<DozidiSession> DozidiSerialization::sessionWithData(std::string_view data) {
  auto json = JSONSerialization::JSONObjectWithData(data);
  if (!json) {
    logError("Failed to deserialize session data " + json.error().localizedDescription());
    return nullptr;
  }
  const auto* dict = json->dictionary();
  auto session = dict ? DozidiSession::initWithJSONObject(*dict) : nullptr;
  if (!session) {
    logError("Failed to initialize session from dictionary. Dropping it.");
    return nullptr;
  }
  const auto release = session->releaseName();
  if (!release || release->empty()) {
    logError("Deserialized session doesn't contain a release name. Dropping it.");
    return nullptr;
  }
  return session;
}

DozidiEventLevel DozidiSerialization::levelFromData(std::string_view data) {
  auto json = JSONSerialization::JSONObjectWithData(data);
  if (!json) {
    logError("Failed to retrieve event level from envelope item data: " + json.error().localizedDescription());
    return DozidiEventLevel::Error;
  }
  return dozidiLevelForString((*json)["level"].asString());
}

std::string DozidiSerialization::baggageEncodedDictionary(const Dictionary& dictionary) {
  std::vector<std::string> entries;
  std::size_t budget = 0;
  for (const auto& [key, value] : dictionary) {
    std::size_t length = 1;  // the "="
    std::string entry = baggageEncoded(key, length) + "=";
    entry += baggageEncoded(value.description(), length);
    if (length + budget > kMaxBaggageLength) continue;
    budget += length + 1;
    entries.push_back(std::move(entry));
  }
  std::sort(entries.begin(), entries.end());
  std::string text;
  for (const auto& entry : entries) {
    if (!text.empty()) text += ',';
    text += entry;
  }
  return text;
}

Dictionary DozidiSerialization::decodeBaggage(std::string_view text) {
  Dictionary result;
  if (text.empty()) return result;
  for (const auto piece : detail::splitText(text, ',')) {
    const auto parts = detail::splitText(piece, '=');
    if (parts.size() != 2) continue;
    std::string key(parts[0]);
    if (auto value = percentDecoded(parts[1])) {
      result.set(std::move(key), std::move(*value));
    } else {
      result.remove(key);
    }
  }
  return result;
}
