#include "platform/foundation/JSONSerialization.h"

#include <simdjson.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace foundation {
namespace {

// ---------------------------------------------------------------------------------------------
// Reading

// A parser keeps its buffers between documents, so each thread reuses one. Documents above this
// size get a parser of their own instead, so that one huge file does not pin its buffers to the
// thread for the rest of the process.
constexpr std::size_t kReusedParserLimit = 16u << 20;

Error readError(std::string reason) {
  return Error::cocoa(CocoaError::PropertyListReadCorrupt, "cannot read JSON text: " + reason);
}

std::string reasonFor(simdjson::error_code code) {
  using simdjson::error_code;
  switch (code) {
    case error_code::EMPTY: return "no value (empty input)";
    case error_code::UTF8_ERROR: return "the input is not valid UTF-8";
    case error_code::DEPTH_ERROR:
      return "nesting is deeper than " + std::to_string(JSONSerialization::kMaxDepth) + " levels";
    case error_code::STRING_ERROR: return "invalid escape sequence in a string";
    case error_code::UNESCAPED_CHARS: return "unescaped control character in a string";
    case error_code::UNCLOSED_STRING: return "unterminated string";
    case error_code::NUMBER_ERROR: return "invalid number, or a number out of range";
    case error_code::T_ATOM_ERROR:
    case error_code::F_ATOM_ERROR:
    case error_code::N_ATOM_ERROR: return "invalid literal";
    case error_code::TAPE_ERROR:
      return "malformed structure (missing or extra commas, brackets, braces or keys, or "
             "garbage after the value)";
    case error_code::CAPACITY: return "the document is too large";
    case error_code::MEMALLOC: return "out of memory";
    default: return simdjson::error_message(code);
  }
}

bool fitsInteger(std::string_view digits) {
  if (digits.front() == '-') {
    std::int64_t i;
    auto r = std::from_chars(digits.data(), digits.data() + digits.size(), i);
    return r.ec == std::errc() && r.ptr == digits.data() + digits.size();
  }
  std::uint64_t u;
  auto r = std::from_chars(digits.data(), digits.data() + digits.size(), u);
  return r.ec == std::errc() && r.ptr == digits.data() + digits.size();
}

bool isNumberByte(char c) {
  return (c >= '0' && c <= '9') || c == '-' || c == '+' || c == '.' || c == 'e' || c == 'E';
}

bool isIntegerToken(std::string_view token) {
  std::size_t i = token.front() == '-' ? 1 : 0;
  if (i == token.size()) return false;
  if (token[i] == '0' && token.size() > i + 1) return false;
  for (; i < token.size(); ++i) {
    if (token[i] < '0' || token[i] > '9') return false;
  }
  return true;
}

// simdjson refuses integers that fit neither 64-bit type. Such an integer is a double for us:
// this rewrites each of them as the scientific text of its nearest double, so that a second
// parse reads it as one. Runs only after a number error, so the common path never pays for it.
// Gives none when there was no such integer (the number error is then genuine).
std::optional<std::string> widenBigIntegers(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 16);
  bool changed = false;
  std::size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c == '"') {
      std::size_t j = i + 1;
      while (j < text.size() && text[j] != '"') j += text[j] == '\\' ? 2 : 1;
      j = std::min(j + 1, text.size());
      out.append(text.substr(i, j - i));
      i = j;
      continue;
    }
    if (c != '-' && (c < '0' || c > '9')) {
      out.push_back(c);
      ++i;
      continue;
    }
    std::size_t j = i;
    while (j < text.size() && isNumberByte(text[j])) ++j;
    const std::string_view token = text.substr(i, j - i);
    i = j;
    double d = 0;
    if (isIntegerToken(token) && !fitsInteger(token)) {
      auto r = std::from_chars(token.data(), token.data() + token.size(), d);
      if (r.ec == std::errc() && std::isfinite(d)) {
        char buf[32];
        auto w = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::scientific);
        out.append(buf, w.ptr);
        changed = true;
        continue;
      }
    }
    out.append(token);
  }
  if (!changed) return std::nullopt;
  return out;
}

Value makeValue(simdjson::dom::element element) {
  using simdjson::dom::element_type;
  switch (element.type()) {
    case element_type::ARRAY: {
      simdjson::dom::array array = element.get_array().value_unsafe();
      Array values;
      values.reserve(array.size());
      for (simdjson::dom::element child : array) values.push_back(makeValue(child));
      return values;
    }
    case element_type::OBJECT: {
      simdjson::dom::object object = element.get_object().value_unsafe();
      Dictionary dictionary;
      dictionary.reserve(object.size());
      for (simdjson::dom::key_value_pair field : object) {
        dictionary.set(std::string(field.key), makeValue(field.value));
      }
      return dictionary;
    }
    case element_type::INT64: return Number::fromInt64(element.get_int64().value_unsafe());
    case element_type::UINT64: return Number::fromUInt64(element.get_uint64().value_unsafe());
    case element_type::DOUBLE: return Number::fromDouble(element.get_double().value_unsafe());
    case element_type::STRING: return Value(element.get_string().value_unsafe());
    case element_type::BOOL: return Number::fromBool(element.get_bool().value_unsafe());
    case element_type::NULL_VALUE: return Null{};
  }
  return Null{};
}

/// A simdjson parser with its padded input buffer. simdjson reads a little past the end of the
/// text, so the text is copied into a buffer with that padding; keeping the buffer between
/// documents saves a large allocation per document.
struct PaddedParser {
  simdjson::dom::parser parser;
  std::unique_ptr<char[]> buffer;
  std::size_t bufferCapacity = 0;

  simdjson::error_code prepare(std::string_view text) {
    if (!buffer || bufferCapacity < text.size()) {
      // Grow geometrically so that a run of slightly larger documents does not reallocate each time.
      const std::size_t capacity = std::max(text.size(), bufferCapacity * 3 / 2);
      buffer.reset(new (std::nothrow) char[capacity + simdjson::SIMDJSON_PADDING]);
      bufferCapacity = buffer ? capacity : 0;
      if (!buffer) return simdjson::MEMALLOC;
    }
    std::memcpy(buffer.get(), text.data(), text.size());
    std::memset(buffer.get() + text.size(), 0, simdjson::SIMDJSON_PADDING);
    if (parser.capacity() < text.size() || parser.max_depth() != JSONSerialization::kMaxDepth) {
      return parser.allocate(std::max(text.size(), parser.capacity()), JSONSerialization::kMaxDepth);
    }
    return simdjson::SUCCESS;
  }
};

Result<Value> parseDocument(PaddedParser& padded, std::string_view text, JSONReadingOptions options) {
  if (const auto code = padded.prepare(text); code != simdjson::SUCCESS) return readError(reasonFor(code));
  simdjson::dom::element root;
  auto code = padded.parser.parse(padded.buffer.get(), text.size(), false).get(root);
  std::optional<std::string> widened;
  if (code == simdjson::NUMBER_ERROR && (widened = widenBigIntegers(text))) {
    return parseDocument(padded, *widened, options);
  }
  if (code != simdjson::SUCCESS) return readError(reasonFor(code));
  const auto type = root.type();
  if (type != simdjson::dom::element_type::ARRAY && type != simdjson::dom::element_type::OBJECT &&
      !hasOption(options, JSONReadingOptions::FragmentsAllowed)) {
    return readError("the top-level value is not an array or object and fragments are not allowed");
  }
  return makeValue(root);
}

// ---------------------------------------------------------------------------------------------
// Writing

Error writeError(std::string reason) {
  return Error::cocoa(CocoaError::PropertyListWriteInvalid, "cannot write JSON text: " + reason);
}

// Per byte: 0 copies as is, 1 needs an escape, 2 starts a multi-byte UTF-8 sequence to check.
constexpr std::array<std::uint8_t, 256> makeByteClasses() {
  std::array<std::uint8_t, 256> classes{};
  for (int c = 0; c < 0x20; ++c) classes[c] = 1;
  classes['"'] = 1;
  classes['\\'] = 1;
  classes['/'] = 1;
  for (int c = 0x80; c < 0x100; ++c) classes[c] = 2;
  return classes;
}
constexpr std::array<std::uint8_t, 256> kByteClasses = makeByteClasses();

// Length of the valid UTF-8 sequence at the start of `s`, or 0 when it is not one.
std::size_t utf8SequenceLength(std::string_view s) {
  const auto b = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const auto cont = [&](std::size_t i) { return i < s.size() && (b(i) & 0xC0) == 0x80; };
  const unsigned char c = b(0);
  if (c >= 0xC2 && c <= 0xDF) return cont(1) ? 2 : 0;
  if (c >= 0xE0 && c <= 0xEF) {
    if (!cont(1) || !cont(2)) return 0;
    if (c == 0xE0 && b(1) < 0xA0) return 0;  // overlong
    if (c == 0xED && b(1) > 0x9F) return 0;  // UTF-16 surrogate
    return 3;
  }
  if (c >= 0xF0 && c <= 0xF4) {
    if (!cont(1) || !cont(2) || !cont(3)) return 0;
    if (c == 0xF0 && b(1) < 0x90) return 0;  // overlong
    if (c == 0xF4 && b(1) > 0x8F) return 0;  // beyond U+10FFFF
    return 4;
  }
  return 0;
}

// True when none of the 8 bytes at `p` needs an escape or a UTF-8 check (no control character,
// quote, backslash, slash or byte above 0x7F), so that strings are scanned a word at a time.
bool plainWord(const char* p) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
  constexpr std::uint64_t kHighs = 0x8080808080808080ULL;
  std::uint64_t w;
  std::memcpy(&w, p, sizeof w);
  const auto hasZeroByte = [](std::uint64_t x) { return (x - kOnes) & ~x & kHighs; };
  const std::uint64_t below0x20 = (w - kOnes * 0x20) & ~w & kHighs;
  const std::uint64_t special = hasZeroByte(w ^ (kOnes * '"')) | hasZeroByte(w ^ (kOnes * '\\')) |
                                hasZeroByte(w ^ (kOnes * '/'));
  return ((w & kHighs) | below0x20 | special) == 0;
}

class Writer {
 public:
  Writer(JSONWritingOptions options, std::string& out)
      : out_(out),
        pretty_(hasOption(options, JSONWritingOptions::PrettyPrinted)),
        sorted_(hasOption(options, JSONWritingOptions::SortedKeys)),
        escapeSlashes_(!hasOption(options, JSONWritingOptions::WithoutEscapingSlashes)) {}

  std::optional<Error> write(const Value& value, std::size_t depth) {
    switch (value.kind()) {
      case Value::Kind::Null: out_ += "null"; return std::nullopt;
      case Value::Kind::Number: return writeNumber(*value.number());
      case Value::Kind::String: return writeString(*value.string());
      case Value::Kind::Array: return writeArray(*value.array(), depth);
      case Value::Kind::Dictionary: return writeDictionary(*value.dictionary(), depth);
      case Value::Kind::Absent: return writeError("an absent value has no JSON form");
      case Value::Kind::Data: return writeError("data has no JSON form");
      case Value::Kind::Date: return writeError("a date has no JSON form");
      case Value::Kind::URL: return writeError("a URL has no JSON form");
      case Value::Kind::Error: return writeError("an error has no JSON form");
      case Value::Kind::Opaque:
        return writeError("an object of type " + value.opaque()->typeName + " has no JSON form");
    }
    return writeError("unknown value");
  }

 private:
  std::optional<Error> writeNumber(const Number& n) {
    char buf[64];
    std::to_chars_result r{};
    switch (n.kind()) {
      case Number::Kind::Bool: out_ += n.rawInt64() != 0 ? "true" : "false"; return std::nullopt;
      case Number::Kind::Int64: r = std::to_chars(buf, buf + sizeof buf, n.rawInt64()); break;
      case Number::Kind::UInt64: r = std::to_chars(buf, buf + sizeof buf, n.rawUInt64()); break;
      case Number::Kind::Float:
      case Number::Kind::Double:
      case Number::Kind::Decimal: {
        const double d = n.rawDouble();
        if (!std::isfinite(d)) return writeError("a number that is not finite has no JSON form");
        r = n.kind() == Number::Kind::Float
                ? std::to_chars(buf, buf + sizeof buf, static_cast<float>(d))
                : std::to_chars(buf, buf + sizeof buf, d);
        break;
      }
    }
    out_.append(buf, r.ptr);
    return std::nullopt;
  }

  std::optional<Error> writeString(std::string_view s) {
    out_ += '"';
    std::size_t run = 0;  // start of the bytes not yet copied
    for (std::size_t i = 0; i < s.size();) {
      if (i + 8 <= s.size() && plainWord(s.data() + i)) {
        i += 8;
        continue;
      }
      const auto c = static_cast<unsigned char>(s[i]);
      const std::uint8_t cls = kByteClasses[c];
      if (cls == 0 || (c == '/' && !escapeSlashes_)) {
        ++i;
        continue;
      }
      if (cls == 2) {
        const std::size_t length = utf8SequenceLength(s.substr(i));
        if (length == 0) return writeError("a string is not valid UTF-8");
        i += length;
        continue;
      }
      out_.append(s.data() + run, i - run);
      appendEscape(c);
      run = ++i;
    }
    out_.append(s.data() + run, s.size() - run);
    out_ += '"';
    return std::nullopt;
  }

  void appendEscape(unsigned char c) {
    switch (c) {
      case '"': out_ += "\\\""; return;
      case '\\': out_ += "\\\\"; return;
      case '/': out_ += "\\/"; return;
      case '\n': out_ += "\\n"; return;
      case '\r': out_ += "\\r"; return;
      case '\t': out_ += "\\t"; return;
      case '\b': out_ += "\\b"; return;
      case '\f': out_ += "\\f"; return;
      default: {
        static constexpr char kHex[] = "0123456789abcdef";
        const char escape[] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
        out_.append(escape, sizeof escape);
      }
    }
  }

  void newline(std::size_t depth) {
    if (!pretty_) return;
    out_ += '\n';
    out_.append(depth * 2, ' ');
  }

  std::optional<Error> enter(std::size_t depth) const {
    // Deeper values could not be read back, and the recursion must stay bounded.
    if (depth >= JSONSerialization::kMaxDepth) {
      return writeError("nesting is deeper than " + std::to_string(JSONSerialization::kMaxDepth) +
                        " levels");
    }
    return std::nullopt;
  }

  std::optional<Error> writeArray(const Array& array, std::size_t depth) {
    if (auto error = enter(depth)) return error;
    out_ += '[';
    bool first = true;
    for (const Value& element : array) {
      if (!first) out_ += ',';
      first = false;
      newline(depth + 1);
      if (auto error = write(element, depth + 1)) return error;
    }
    if (!first) newline(depth);
    out_ += ']';
    return std::nullopt;
  }

  std::optional<Error> writeDictionary(const Dictionary& dictionary, std::size_t depth) {
    if (auto error = enter(depth)) return error;
    out_ += '{';
    if (sorted_) {
      std::vector<const Dictionary::Entry*> entries;
      entries.reserve(dictionary.size());
      for (const auto& entry : dictionary) entries.push_back(&entry);
      std::sort(entries.begin(), entries.end(),
                [](const auto* a, const auto* b) { return a->first < b->first; });
      for (std::size_t i = 0; i < entries.size(); ++i) {
        if (auto error = writeMember(*entries[i], i == 0, depth)) return error;
      }
    } else {
      bool first = true;
      for (const auto& entry : dictionary) {
        if (auto error = writeMember(entry, first, depth)) return error;
        first = false;
      }
    }
    if (!dictionary.empty()) newline(depth);
    out_ += '}';
    return std::nullopt;
  }

  std::optional<Error> writeMember(const Dictionary::Entry& entry, bool first, std::size_t depth) {
    if (!first) out_ += ',';
    newline(depth + 1);
    if (auto error = writeString(entry.first)) return error;
    out_ += pretty_ ? " : " : ":";
    return write(entry.second, depth + 1);
  }

  std::string& out_;
  const bool pretty_;
  const bool sorted_;
  const bool escapeSlashes_;
};

bool isValidUTF8(std::string_view s) {
  for (std::size_t i = 0; i < s.size();) {
    if (static_cast<unsigned char>(s[i]) < 0x80) {
      ++i;
      continue;
    }
    const std::size_t length = utf8SequenceLength(s.substr(i));
    if (length == 0) return false;
    i += length;
  }
  return true;
}

bool isValidMember(const Value& value, std::size_t depth) {
  switch (value.kind()) {
    case Value::Kind::Null: return true;
    case Value::Kind::String: return isValidUTF8(*value.string());
    case Value::Kind::Number: {
      const Number& n = *value.number();
      return !n.isFloatingPoint() || std::isfinite(n.rawDouble());
    }
    case Value::Kind::Array:
      if (depth >= JSONSerialization::kMaxDepth) return false;
      for (const Value& element : *value.array()) {
        if (!isValidMember(element, depth + 1)) return false;
      }
      return true;
    case Value::Kind::Dictionary:
      if (depth >= JSONSerialization::kMaxDepth) return false;
      for (const auto& [key, element] : *value.dictionary()) {
        if (!isValidUTF8(key) || !isValidMember(element, depth + 1)) return false;
      }
      return true;
    default: return false;
  }
}

}  // namespace

Result<Value> JSONSerialization::JSONObjectWithData(std::string_view bytes, JSONReadingOptions options) {
  static constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
  if (bytes.starts_with(kByteOrderMark)) bytes.remove_prefix(kByteOrderMark.size());
  if (bytes.size() > kReusedParserLimit) {
    PaddedParser parser;
    return parseDocument(parser, bytes, options);
  }
  thread_local PaddedParser parser;
  return parseDocument(parser, bytes, options);
}

bool JSONSerialization::isValidJSONObject(const Value& value) {
  if (!value.array() && !value.dictionary()) return false;
  return isValidMember(value, 0);
}

Result<std::string> JSONSerialization::dataWithJSONObject(const Value& value, JSONWritingOptions options) {
  if (!value.array() && !value.dictionary() && !hasOption(options, JSONWritingOptions::FragmentsAllowed)) {
    return writeError("the top-level value is not an array or object and fragments are not allowed");
  }
  std::string out;
  out.reserve(256);
  Writer writer(options, out);
  if (auto error = writer.write(value, 0)) return *error;
  return out;
}

}  // namespace foundation
