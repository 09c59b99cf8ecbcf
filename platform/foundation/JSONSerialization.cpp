#include "platform/foundation/JSONSerialization.h"

#include <simdjson.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "platform/foundation/UTF8.h"
#include "platform/foundation/detail/ValueTreeBuilder.h"

namespace foundation {
namespace {

// ---------------------------------------------------------------------------------------------
// Reading

// A parser keeps its buffers between documents, so each thread reuses one. Documents above this
// size get a parser of their own instead, so that one huge file does not pin its buffers to the
// thread for the rest of the process.
constexpr std::size_t kReusedParserLimit = 32u << 20;

// The same bound for the buffer each thread keeps for writing JSON text.
constexpr std::size_t kReusedBufferLimit = 32u << 20;

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

// Fills `slot` (absent) with the value of `element`. Containers get their blocks from the
// document's arena, sized from the parsed counts, and their children are made in place. An
// absent value holds nothing to destroy, so each value is constructed straight into its slot
// rather than made aside and moved there.
void fillValue(Value& slot, simdjson::dom::element element, detail::ValueTreeBuilder& builder) {
  using simdjson::dom::element_type;
  switch (element.type()) {
    case element_type::ARRAY: {
      simdjson::dom::array array = element.get_array().value_unsafe();
      Array& values = *(new (&slot) Value(builder.makeArray(array.size())))->mutableArray();
      for (simdjson::dom::element child : array) fillValue(builder.append(values), child, builder);
      return;
    }
    case element_type::OBJECT: {
      simdjson::dom::object object = element.get_object().value_unsafe();
      Dictionary& dictionary = *(new (&slot) Value(builder.makeDictionary(object.size())))->mutableDictionary();
      for (simdjson::dom::key_value_pair field : object) {
        fillValue(builder.entry(dictionary, field.key), field.value, builder);
      }
      return;
    }
    case element_type::INT64: new (&slot) Value(Number::fromInt64(element.get_int64().value_unsafe())); return;
    case element_type::UINT64: new (&slot) Value(Number::fromUInt64(element.get_uint64().value_unsafe())); return;
    case element_type::DOUBLE: new (&slot) Value(Number::fromDouble(element.get_double().value_unsafe())); return;
    case element_type::STRING: new (&slot) Value(element.get_string().value_unsafe()); return;
    case element_type::BOOL: new (&slot) Value(Number::fromBool(element.get_bool().value_unsafe())); return;
    case element_type::NULL_VALUE: new (&slot) Value(Null{}); return;
  }
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
  Value value;
  detail::ValueTreeBuilder builder;
  fillValue(value, root, builder);
  return value;
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

// The same when slashes are written as they are.
constexpr std::array<std::uint8_t, 256> makeByteClassesKeepingSlashes() {
  std::array<std::uint8_t, 256> classes = makeByteClasses();
  classes['/'] = 0;
  return classes;
}
constexpr std::array<std::uint8_t, 256> kByteClassesKeepingSlashes = makeByteClassesKeepingSlashes();

// Per byte that needs an escape: the letter after the backslash ('u' for the \u00XX form).
constexpr std::array<char, 256> makeEscapeLetters() {
  std::array<char, 256> letters{};
  for (int c = 0; c < 0x20; ++c) letters[c] = 'u';
  letters['"'] = '"';
  letters['\\'] = '\\';
  letters['/'] = '/';
  letters['\n'] = 'n';
  letters['\r'] = 'r';
  letters['\t'] = 't';
  letters['\b'] = 'b';
  letters['\f'] = 'f';
  return letters;
}
constexpr std::array<char, 256> kEscapeLetters = makeEscapeLetters();

// Strings are scanned a block at a time for the bytes that need an escape or a UTF-8 check
// (control characters, quote, backslash, slash when slashes are escaped, bytes above 0x7F).
// plainPrefix() gives how many bytes at the start of a block need neither: kBlock when none do.
#if defined(__SSE2__)
constexpr std::size_t kBlock = 16;

std::size_t plainPrefix(const char* p, bool escapeSlashes) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  // Unsigned v <= 0x1F exactly when max(v, 0x1F) == 0x1F.
  const __m128i controls = _mm_cmpeq_epi8(_mm_max_epu8(v, _mm_set1_epi8(0x1F)), _mm_set1_epi8(0x1F));
  __m128i special = _mm_or_si128(controls, _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('"')),
                                                         _mm_cmpeq_epi8(v, _mm_set1_epi8('\\'))));
  if (escapeSlashes) special = _mm_or_si128(special, _mm_cmpeq_epi8(v, _mm_set1_epi8('/')));
  // movemask of v itself marks the bytes above 0x7F.
  const auto mask = static_cast<std::uint32_t>(_mm_movemask_epi8(special) | _mm_movemask_epi8(v));
  return mask == 0 ? kBlock : static_cast<std::size_t>(std::countr_zero(mask));
}
#else
constexpr std::size_t kBlock = 8;

// The high bit of each byte flags it. Bits above the lowest set one may be false alarms
// (borrows carry upward); the lowest set bit always marks the first such byte. A slash is
// always flagged here; the caller copies it as is when slashes are not escaped.
std::size_t plainPrefix(const char* p, bool) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
  constexpr std::uint64_t kHighs = 0x8080808080808080ULL;
  std::uint64_t w;
  std::memcpy(&w, p, sizeof w);
  const auto hasZeroByte = [](std::uint64_t x) { return (x - kOnes) & ~x & kHighs; };
  const std::uint64_t below0x20 = (w - kOnes * 0x20) & ~w & kHighs;
  const std::uint64_t special = hasZeroByte(w ^ (kOnes * '"')) | hasZeroByte(w ^ (kOnes * '\\')) |
                                hasZeroByte(w ^ (kOnes * '/'));
  const std::uint64_t mask = (w & kHighs) | below0x20 | special;
  return mask == 0 ? kBlock : static_cast<std::size_t>(std::countr_zero(mask)) / 8;
}
#endif

/// A plain byte buffer that each thread keeps between documents, so that writing a large
/// document does not grow a fresh string step by step (each step a new block whose pages the
/// kernel must clear, and a copy). Its bytes are never initialised ahead of use.
struct WriteBuffer {
  std::unique_ptr<char[]> bytes;
  std::size_t capacity = 0;
};

// Writes into the buffer directly (pos_ and end_ bound its free part), so that each byte costs
// a store rather than a checked append.
class Writer {
 public:
  Writer(JSONWritingOptions options, WriteBuffer& buffer)
      : buffer_(buffer),
        pretty_(hasOption(options, JSONWritingOptions::PrettyPrinted)),
        sorted_(hasOption(options, JSONWritingOptions::SortedKeys)),
        escapeSlashes_(!hasOption(options, JSONWritingOptions::WithoutEscapingSlashes)),
        classes_(escapeSlashes_ ? kByteClasses.data() : kByteClassesKeepingSlashes.data()) {
    pos_ = buffer_.bytes.get();
    end_ = pos_ + buffer_.capacity;
  }

  /// Writes `value` and gives its text, or the error.
  Result<std::string> writeTop(const Value& value) {
    if (!write(value, 0)) return std::move(*error_);
    return std::string(written());
  }

  /// Writes one string or one number alone; false when it has no JSON form. Its text is written().
  bool writeStringAlone(std::string_view s) { return writeString(s); }
  bool writeNumberAlone(const Number& n) { return writeNumber(n); }

  std::string_view written() const {
    return {buffer_.bytes.get(), static_cast<std::size_t>(pos_ - buffer_.bytes.get())};
  }

 private:
  // Kept small so that it is inlined into the loops over members; each kind's writer is a call
  // of its own, and the kinds without a JSON form are handled out of the way.
  [[gnu::always_inline]] bool write(const Value& value, std::size_t depth) {
    switch (value.kind()) {
      case Value::Kind::String: return writeString(*value.string());
      case Value::Kind::Number: return writeNumber(*value.number());
      case Value::Kind::Dictionary: return writeDictionary(*value.dictionary(), depth);
      case Value::Kind::Array: return writeArray(*value.array(), depth);
      case Value::Kind::Null: put("null", 4); return true;
      default: return failWithoutForm(value);
    }
  }

  [[gnu::noinline, gnu::cold]] bool failWithoutForm(const Value& value) {
    switch (value.kind()) {
      case Value::Kind::Absent: return fail("an absent value has no JSON form");
      case Value::Kind::Data: return fail("data has no JSON form");
      case Value::Kind::Date: return fail("a date has no JSON form");
      case Value::Kind::URL: return fail("a URL has no JSON form");
      case Value::Kind::Error: return fail("an error has no JSON form");
      case Value::Kind::Opaque:
        return fail("an object of type " + value.opaque()->typeName + " has no JSON form");
      default: return fail("unknown value");
    }
  }

  bool fail(std::string reason) {
    error_ = writeError(std::move(reason));
    return false;
  }

  /// Makes room for `count` more bytes.
  void ensure(std::size_t count) {
    if (static_cast<std::size_t>(end_ - pos_) >= count) return;
    const std::size_t used = static_cast<std::size_t>(pos_ - buffer_.bytes.get());
    const std::size_t capacity = std::max({buffer_.capacity * 2, used + count, std::size_t{4096}});
    auto bytes = std::make_unique_for_overwrite<char[]>(capacity);
    if (used > 0) std::memcpy(bytes.get(), buffer_.bytes.get(), used);
    buffer_.bytes = std::move(bytes);
    buffer_.capacity = capacity;
    pos_ = buffer_.bytes.get() + used;
    end_ = buffer_.bytes.get() + capacity;
  }

  void put(char c) {
    ensure(1);
    *pos_++ = c;
  }

  void put(const char* bytes, std::size_t count) {
    ensure(count);
    std::memcpy(pos_, bytes, count);
    pos_ += count;
  }

  [[gnu::noinline]] bool writeNumber(const Number& n) {
    // The longest integer or shortest round-trip double text is 24 bytes.
    ensure(32);
    switch (n.kind()) {
      case Number::Kind::Bool:
        if (n.rawInt64() != 0) {
          std::memcpy(pos_, "true", 4);
          pos_ += 4;
        } else {
          std::memcpy(pos_, "false", 5);
          pos_ += 5;
        }
        return true;
      case Number::Kind::Int64: pos_ = std::to_chars(pos_, end_, n.rawInt64()).ptr; return true;
      case Number::Kind::UInt64: pos_ = std::to_chars(pos_, end_, n.rawUInt64()).ptr; return true;
      case Number::Kind::Float:
      case Number::Kind::Double:
      case Number::Kind::Decimal: {
        const double d = n.rawDouble();
        if (!std::isfinite(d)) return fail("a number that is not finite has no JSON form");
        pos_ = n.kind() == Number::Kind::Float ? std::to_chars(pos_, end_, static_cast<float>(d)).ptr
                                               : std::to_chars(pos_, end_, d).ptr;
        return true;
      }
    }
    return true;
  }

  // Each block is stored to the output whole before it is checked, and the output then moves
  // past its plain bytes only: a run of plain bytes costs one load, one store and one test per
  // block. So room is kept for every byte not yet written, one block beyond them and the closing
  // quote; each escape makes room for its extra bytes.
  [[gnu::noinline]] bool writeString(std::string_view s) {
    const std::size_t n = s.size();
    const char* p = s.data();
    ensure(n + kBlock + 2);
    // The output position and the table stay in registers while the string is written.
    char* out = pos_;
    const std::uint8_t* const classes = classes_;
    *out++ = '"';
    std::size_t i = 0;
    for (;;) {
      while (i + kBlock <= n) {
        std::memcpy(out, p + i, kBlock);
        const std::size_t plain = plainPrefix(p + i, escapeSlashes_);
        out += plain;
        i += plain;
        if (plain != kBlock) break;
      }
      // The last bytes (fewer than a block) one by one, up to the next byte that needs attention.
      while (i < n && classes[static_cast<unsigned char>(p[i])] == 0) *out++ = p[i++];
      if (i == n) break;
      const auto c = static_cast<unsigned char>(p[i]);
      if (classes[c] == 2) {
        const std::size_t length = utf8SequenceLength(s.substr(i));
        if (length == 0) return fail("a string is not valid UTF-8");
        for (std::size_t k = 0; k < length; ++k) out[k] = p[i + k];
        out += length;
        i += length;
        continue;
      }
      pos_ = out;
      ensure(n - i + kBlock + 7);
      out = writeEscape(pos_, c);
      ++i;
    }
    *out++ = '"';
    pos_ = out;
    return true;
  }

  // Writes the escape of `c` at `out`, where there is room for 6 bytes; gives the end.
  static char* writeEscape(char* out, unsigned char c) {
    const char letter = kEscapeLetters[c];
    out[0] = '\\';
    if (letter != 'u') {
      out[1] = letter;
      return out + 2;
    }
    static constexpr char kHex[] = "0123456789abcdef";
    const char escape[] = {'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
    std::memcpy(out + 1, escape, sizeof escape);
    return out + 6;
  }

  void newline(std::size_t depth) {
    if (!pretty_) return;
    ensure(1 + depth * 2);
    *pos_++ = '\n';
    std::memset(pos_, ' ', depth * 2);
    pos_ += depth * 2;
  }

  bool enter(std::size_t depth) {
    // Deeper values could not be read back, and the recursion must stay bounded.
    if (depth >= JSONSerialization::kMaxDepth) {
      return fail("nesting is deeper than " + std::to_string(JSONSerialization::kMaxDepth) + " levels");
    }
    return true;
  }

  [[gnu::noinline]] bool writeArray(const Array& array, std::size_t depth) {
    if (!enter(depth)) return false;
    put('[');
    bool first = true;
    for (const Value& element : array) {
      if (!first) put(',');
      first = false;
      newline(depth + 1);
      if (!write(element, depth + 1)) return false;
    }
    if (!first) newline(depth);
    put(']');
    return true;
  }

  [[gnu::noinline]] bool writeDictionary(const Dictionary& dictionary, std::size_t depth) {
    if (!enter(depth)) return false;
    put('{');
    if (sorted_) {
      std::vector<const Dictionary::Entry*> entries;
      entries.reserve(dictionary.size());
      for (const auto& entry : dictionary) entries.push_back(&entry);
      std::sort(entries.begin(), entries.end(),
                [](const auto* a, const auto* b) { return a->first < b->first; });
      for (std::size_t i = 0; i < entries.size(); ++i) {
        if (!writeMember(*entries[i], i == 0, depth)) return false;
      }
    } else {
      bool first = true;
      for (const auto& entry : dictionary) {
        if (!writeMember(entry, first, depth)) return false;
        first = false;
      }
    }
    if (!dictionary.empty()) newline(depth);
    put('}');
    return true;
  }

  bool writeMember(const Dictionary::Entry& entry, bool first, std::size_t depth) {
    if (!first) put(',');
    newline(depth + 1);
    if (!writeString(entry.first)) return false;
    if (pretty_) {
      put(" : ", 3);
    } else {
      put(':');
    }
    return write(entry.second, depth + 1);
  }

  WriteBuffer& buffer_;
  char* pos_ = nullptr;
  char* end_ = nullptr;
  std::optional<Error> error_;
  const bool pretty_;
  const bool sorted_;
  const bool escapeSlashes_;
  const std::uint8_t* const classes_;  ///< kByteClasses, or the table that keeps slashes
};

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
  // The text is written into the thread's buffer and then copied once into a string of its
  // exact size. A buffer grown beyond kReusedBufferLimit is released afterwards, as with the
  // parser.
  thread_local WriteBuffer buffer;
  Result<std::string> text = Writer(options, buffer).writeTop(value);
  if (buffer.capacity > kReusedBufferLimit) buffer = WriteBuffer();
  return text;
}

bool JSONSerialization::appendString(std::string& out, std::string_view text, JSONWritingOptions options) {
  // Written into a buffer of its own and copied: the string writer needs room beyond the text.
  thread_local WriteBuffer buffer;
  Writer writer(options, buffer);
  const bool written = writer.writeStringAlone(text);
  if (written) out.append(writer.written());
  if (buffer.capacity > kReusedBufferLimit) buffer = WriteBuffer();
  return written;
}

bool JSONSerialization::appendNumber(std::string& out, const Number& number) {
  thread_local WriteBuffer buffer;
  Writer writer(JSONWritingOptions::None, buffer);
  const bool written = writer.writeNumberAlone(number);
  if (written) out.append(writer.written());
  return written;
}

}  // namespace foundation
