#include "platform/foundation/JSONArrayCount.h"

#include <simdjson.h>

#include <array>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/foundation/JSONSerialization.h"

namespace foundation {

namespace {

// The text is checked in two passes that build nothing. The parser's first stage finds the
// structural characters and the starts of scalars and checks what it sees on the way: UTF-8,
// control characters inside strings and unclosed strings. What it leaves is checked here: the
// grammar, over the structural characters; numbers and literals, on their own bytes; and escape
// sequences, by a scan for backslashes that follows the walk a stretch behind, so that the text
// is read from memory once more, not twice (outside strings a backslash can only be part of a
// scalar, which is refused anyway). Strings are never copied or decoded, and the text needs no
// padding: neither pass reads past its end.

bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool isHexDigit(char c) { return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

/// True when a number or literal ending before `p` ends there: the text ends, or whitespace or a
/// structural character follows. (A quote right after a token is not a structural character to
/// the first stage, which takes it as part of the token.)
bool endsToken(const char* p, const char* end) {
  if (p == end) return true;
  switch (*p) {
    case ' ': case '\t': case '\n': case '\r': case ',': case ':': case '[': case ']': case '{': case '}':
      return true;
    default:
      return false;
  }
}

bool isNumber(const char* p, const char* end) {
  if (p < end && *p == '-') ++p;
  if (p == end) return false;
  if (*p == '0') {
    ++p;
  } else if (*p >= '1' && *p <= '9') {
    while (++p < end && isDigit(*p)) {}
  } else {
    return false;
  }
  if (p < end && *p == '.') {
    const char* digits = ++p;
    while (p < end && isDigit(*p)) ++p;
    if (p == digits) return false;
  }
  if (p < end && (*p == 'e' || *p == 'E')) {
    ++p;
    if (p < end && (*p == '+' || *p == '-')) ++p;
    const char* digits = p;
    while (p < end && isDigit(*p)) ++p;
    if (p == digits) return false;
  }
  return endsToken(p, end);
}

bool isLiteral(const char* p, const char* end, std::string_view literal) {
  return static_cast<std::size_t>(end - p) >= literal.size() && std::memcmp(p, literal.data(), literal.size()) == 0 &&
         endsToken(p + literal.size(), end);
}

/// A number, true, false or null starting at `p`.
bool isScalar(const char* p, const char* end) {
  switch (*p) {
    case 't': return isLiteral(p, end, "true");
    case 'f': return isLiteral(p, end, "false");
    case 'n': return isLiteral(p, end, "null");
    default: return isNumber(p, end);
  }
}

/// The value of the four hex digits at `p`, or -1 when they are not four hex digits.
int hexQuad(const char* p, const char* end) {
  if (end - p < 4) return -1;
  int value = 0;
  for (int i = 0; i < 4; ++i) {
    const char c = p[i];
    if (!isHexDigit(c)) return -1;
    value = value * 16 + (isDigit(c) ? c - '0' : (c | 0x20) - 'a' + 10);
  }
  return value;
}

/// Checks the escape sequence whose backslash is at `p`; on success, returns the byte after it.
/// A high surrogate must be followed by an escaped low one, and a low one may not stand alone,
/// as the app's JSON reader requires.
const char* escapeEnd(const char* p, const char* end) {
  if (end - p < 2) return nullptr;
  switch (p[1]) {
    case '"': case '\\': case '/': case 'b': case 'f': case 'n': case 'r': case 't':
      return p + 2;
    case 'u': {
      const int unit = hexQuad(p + 2, end);
      if (unit < 0 || (unit >= 0xDC00 && unit <= 0xDFFF)) return nullptr;
      if (unit < 0xD800 || unit > 0xDBFF) return p + 6;
      if (end - p < 12 || p[6] != '\\' || p[7] != 'u') return nullptr;
      const int low = hexQuad(p + 8, end);
      return low >= 0xDC00 && low <= 0xDFFF ? p + 12 : nullptr;
    }
    default:
      return nullptr;
  }
}

/// Checks the escape sequences of a text a stretch at a time, in order, so that each stretch is
/// scanned while the walk over the structural characters has it in the cache. A backslash that
/// an escape sequence consumed (the second of "\\", or one inside "\u...\u...") is skipped; a
/// sequence may run past the end of its stretch.
class EscapeScanner {
 public:
  EscapeScanner(const char* text, std::size_t length) : scanned_(text), next_(text), end_(text + length) {}

  /// Scans up to `until` (at most the text's end); false at an invalid escape sequence.
  bool scanTo(const char* until) {
    const char* p = scanned_;
#if defined(__SSE2__)
    const __m128i backslash = _mm_set1_epi8('\\');
    for (; until - p >= 16; p += 16) {
      auto mask = static_cast<unsigned>(
          _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), backslash)));
      while (mask != 0) {
        if (!check(p + __builtin_ctz(mask))) return false;
        mask &= mask - 1;
      }
    }
#endif
    for (; p < until; ++p) {
      if (*p == '\\' && !check(p)) return false;
    }
    scanned_ = p;
    return true;
  }

  bool scanToEnd() { return scanTo(end_); }

 private:
  bool check(const char* backslash) {
    if (backslash < next_) return true;
    next_ = escapeEnd(backslash, end_);
    return next_ != nullptr;
  }

  const char* scanned_;  // bytes before it are checked
  const char* next_;     // the first byte not consumed by an escape sequence
  const char* const end_;
};

/// Walks the structural characters the first stage found and counts the top-level array's
/// elements; none when the grammar does not hold. Each state of the grammar is a place in the
/// code, so that the processor predicts each place's branches on their own.
std::optional<std::size_t> walkStructure(const char* text, std::size_t length, const std::uint32_t* indexes,
                                         std::size_t count) {
  const char* const end = text + length;
  // Open containers, innermost last: '[' or '{'.
  std::array<char, JSONSerialization::kMaxDepth> open;
  std::size_t depth = 0;
  std::size_t elements = 0;
  std::size_t s = 0;
  const char* p = nullptr;
  char c = 0;
  // Escape sequences are checked a stretch behind the walk.
  constexpr std::size_t kStretch = 16 * 1024;
  EscapeScanner escapes(text, length);
  const char* scanMark = text + kStretch;
  const auto next = [&] {
    if (++s >= count) return false;
    p = text + indexes[s];
    c = *p;
    if (p >= scanMark) [[unlikely]] {
      if (!escapes.scanTo(p)) return false;
      scanMark = p + kStretch;
    }
    return true;
  };
  if (count == 0 || text[indexes[0]] != '[') return std::nullopt;
  open[depth++] = '[';

arrayStart:
  if (!next()) return std::nullopt;
  if (c == ']') goto close;
value:
  if (depth == 1) ++elements;
  switch (c) {
    case '[':
    case '{':
      if (depth == open.size()) return std::nullopt;
      open[depth++] = c;
      if (c == '[') goto arrayStart;
      if (!next()) return std::nullopt;
      if (c == '}') goto close;
      goto key;
    case '"':
      break;
    default:
      if (!isScalar(p, end)) return std::nullopt;
  }
afterValue:
  if (!next()) return std::nullopt;
  if (c == ',') {
    if (!next()) return std::nullopt;
    if (open[depth - 1] == '[') goto value;
    goto key;
  }
  if (c != (open[depth - 1] == '[' ? ']' : '}')) return std::nullopt;
close:
  if (--depth > 0) goto afterValue;
  // The top-level array's "]" must be the last structural character.
  if (s + 1 != count || !escapes.scanToEnd()) return std::nullopt;
  return elements;
key:
  if (c != '"' || !next() || c != ':' || !next()) return std::nullopt;
  goto value;
}

}  // namespace

std::optional<std::size_t> countJSONArrayElements(std::string_view text) {
  // The first stage's index has one entry per structural character, at most one per byte; its
  // buffers are kept per thread between calls.
  thread_local simdjson::dom::parser parser;
  if (text.empty() || text.size() > simdjson::SIMDJSON_MAXSIZE_BYTES) return std::nullopt;
  if (parser.capacity() < text.size() && parser.allocate(text.size()) != simdjson::SUCCESS) return std::nullopt;
  auto& stage1 = *parser.implementation;
  if (stage1.stage1(reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), simdjson::stage1_mode::regular) !=
      simdjson::SUCCESS) {
    return std::nullopt;
  }
  auto elements = walkStructure(text.data(), text.size(), stage1.structural_indexes.get(), stage1.n_structural_indexes);
  return elements;
}

}  // namespace foundation
