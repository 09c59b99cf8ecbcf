// Serialisation of JSON values: bytes through the platform writer, text through the module's
// own writer for scalars and, on request, for lists and maps.
#include <cmath>

#include "json/JSON.h"
#include "platform/foundation/Console.h"
#include "platform/foundation/UTF8.h"

namespace json {

using foundation::JSONWritingOptions;
using foundation::Value;

namespace {

// The nesting limit when the caller names none: ten levels of lists and maps below the top.
constexpr std::int64_t kDefaultMaxObjectDepth = 10;

JSONWritingOptions writingOptionsIn(const WritingOptionsMap& options) {
  auto found = options.find(writingOptionsKeys::JSONSerialization);
  if (found != options.end()) {
    const foundation::Number* bits = found->second.number();
    if (bits && !bits->isBool()) {
      if (auto raw = bits->exactUInt64()) return static_cast<JSONWritingOptions>(*raw);
    }
  }
  return JSONWritingOptions::PrettyPrinted;
}

bool castNilToNSNullIn(const WritingOptionsMap& options) {
  auto found = options.find(writingOptionsKeys::CastNilToNSNull);
  return found != options.end() && found->second.asBool().value_or(false);
}

std::int64_t maxObjectDepthIn(const WritingOptionsMap& options) {
  auto found = options.find(writingOptionsKeys::MaxObjextDepth);
  if (found != options.end()) {
    if (auto depth = found->second.asInt64()) return *depth;
  }
  return kDefaultMaxObjectDepth;
}

StringEncoding encodingIn(const WritingOptionsMap& options) {
  auto found = options.find(writingOptionsKeys::Encoding);
  if (found != options.end()) {
    if (auto raw = found->second.asUInt64()) return static_cast<StringEncoding>(*raw);
  }
  return StringEncoding::UTF8;
}

/// Bytes as UTF-8 text in `encoding`; none when they are not valid in it.
std::optional<std::string> decodeText(std::string bytes, StringEncoding encoding) {
  switch (encoding) {
    case StringEncoding::UTF8:
      if (!foundation::isValidUTF8(bytes)) return std::nullopt;
      return bytes;
    case StringEncoding::ASCII:
      for (char c : bytes) {
        if (static_cast<unsigned char>(c) >= 0x80) return std::nullopt;
      }
      return bytes;
    case StringEncoding::ISOLatin1: {
      std::string text;
      text.reserve(bytes.size());
      for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x80) {
          text += c;
        } else {
          text += static_cast<char>(0xC0 | (b >> 6));
          text += static_cast<char>(0x80 | (b & 0x3F));
        }
      }
      return text;
    }
  }
  return std::nullopt;
}

/// Appends `text` as a quoted JSON string. Quotes, backslashes and control characters are
/// escaped, so the result is always valid JSON; bytes that are not UTF-8 become U+FFFD, which
/// JSON text can carry where they cannot.
void appendQuoted(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += '"';
  for (std::size_t i = 0; i < text.size();) {
    const char c = text[i];
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x80) {
      const std::size_t length = foundation::utf8SequenceLength(text.substr(i));
      if (length == 0) {
        out += "\xEF\xBF\xBD";
        ++i;
      } else {
        out.append(text.substr(i, length));
        i += length;
      }
      continue;
    }
    ++i;
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      default:
        if (byte < 0x20) {
          out += "\\u00";
          out += kHex[byte >> 4];
          out += kHex[byte & 0xF];
        } else {
          out += c;
        }
    }
  }
  out += '"';
}

/// The module's own compact writer for one member of a list or map, written with the nesting
/// limit `depth`. False when the member (or anything in it) cannot be written: the whole
/// container then fails.
bool appendMember(std::string& out, const Value& member, std::int64_t depth);

bool appendContainer(std::string& out, const Value& container, std::int64_t depth) {
  if (const foundation::Array* array = container.array()) {
    out += '[';
    bool first = true;
    for (const Value& element : *array) {
      if (!first) out += ',';
      first = false;
      if (!appendMember(out, element, depth - 1)) return false;
    }
    out += ']';
    return true;
  }
  const foundation::Dictionary* dictionary = container.dictionary();
  if (!dictionary) return false;
  out += '{';
  bool first = true;
  for (const auto& [key, value] : *dictionary) {
    if (!first) out += ',';
    first = false;
    appendQuoted(out, key);
    out += ": ";
    if (!appendMember(out, value, depth - 1)) return false;
  }
  out += '}';
  return true;
}

bool appendMember(std::string& out, const Value& member, std::int64_t depth) {
  // A member that holds no value is written as null without consulting the limit.
  if (member.isAbsent()) {
    out += "null";
    return true;
  }
  if (depth < 1) return false;
  switch (member.kind()) {
    case Value::Kind::Null: out += "null"; return true;
    case Value::Kind::Number: {
      const foundation::Number& number = *member.number();
      if (number.isBool()) {
        out += number.boolValue() ? "true" : "false";
        return true;
      }
      // NaN and infinity have no JSON text.
      if (number.isFloatingPoint() && !std::isfinite(number.doubleValue())) return false;
      out += number.stringValue();
      return true;
    }
    case Value::Kind::String: appendQuoted(out, *member.string()); return true;
    case Value::Kind::Array:
    case Value::Kind::Dictionary: return appendContainer(out, member, depth);
    case Value::Kind::Data: {
      // Data reads as the JSON value parsed from it (null when it does not parse).
      const JSON parsed(member);
      return appendMember(out, parsed.object(), depth);
    }
    default: return false;  // dates, URLs, errors and other objects have no JSON form
  }
}

/// The writer. `depth` is at least 1 here: the caller has refused smaller limits.
std::optional<std::string> writeText(const JSON& value, StringEncoding encoding,
                                     const WritingOptionsMap& options, std::int64_t depth) {
  switch (value.type()) {
    case Type::Number: return value.object().number()->stringValue();
    case Type::String: return *value.object().string();
    case Type::Bool: return std::string(value.object().number()->boolValue() ? "true" : "false");
    case Type::Null: return std::string("null");
    case Type::Unknown: return std::nullopt;
    case Type::Array:
    case Type::Dictionary: break;
  }
  if (castNilToNSNullIn(options)) {
    std::string out;
    if (!appendContainer(out, value.object(), depth)) return std::nullopt;
    return out;
  }
  auto bytes = value.rawData(writingOptionsIn(options));
  if (!bytes) return std::nullopt;
  return decodeText(std::move(*bytes).takeBytes(), encoding);
}

std::optional<std::string> runWriter(const JSON& value, StringEncoding encoding,
                                     const WritingOptionsMap& options, std::int64_t depth) {
  if (depth < 1) {
    foundation::Console::print("Could not serialize object to JSON because: " +
                               localizedDescription(JSONError::InvalidJSON));
    return std::nullopt;
  }
  return writeText(value, encoding, options, depth);
}

}  // namespace

foundation::Result<foundation::Data> JSON::rawData(JSONWritingOptions options) const {
  using foundation::JSONSerialization;
  // The writer refuses whatever the validity test refuses, except a scalar at the top when
  // fragments are allowed; only then is the separate (whole-tree) test needed up front.
  // Otherwise it runs only to tell an invalid value from a refusal of the writer itself.
  if (hasOption(options, JSONWritingOptions::FragmentsAllowed) && !JSONSerialization::isValidJSONObject(object_)) {
    return toError(JSONError::InvalidJSON);
  }
  auto bytes = JSONSerialization::dataWithJSONObject(object_, options);
  if (!bytes) {
    if (!JSONSerialization::isValidJSONObject(object_)) return toError(JSONError::InvalidJSON);
    return bytes.error();
  }
  return foundation::Data(std::move(*bytes));
}

std::optional<std::string> JSON::rawString(StringEncoding encoding, JSONWritingOptions options) const {
  const WritingOptionsMap map{
      {writingOptionsKeys::JSONSerialization, Value(static_cast<std::uint64_t>(options))}};
  return runWriter(*this, encoding, map, kDefaultMaxObjectDepth);
}

std::optional<std::string> JSON::rawString(const WritingOptionsMap& options) const {
  return runWriter(*this, encodingIn(options), options, maxObjectDepthIn(options));
}

std::string JSON::description() const {
  return rawString(StringEncoding::UTF8, JSONWritingOptions::PrettyPrinted).value_or("unknown");
}

}  // namespace json
