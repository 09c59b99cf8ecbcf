#include "DozidiCrashJSON.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>

#include "DozidiCrashFormat.h"
#include "DozidiCrashLogger.h"
#include "platform/foundation/SystemCalls.h"
#include "platform/foundation/UTF8.h"

namespace {

using Context = DozidiCrashJSONEncodeContext;

constexpr char kSpaces[] = "                                                                ";

/// Collects the bytes of one element on the stack and hands them to the output callback in one
/// call: the separator, indentation, name and value of an element usually fit together, and
/// one call per element is what keeps the encoder fast. Longer runs go out directly.
struct Pending {
  explicit Pending(Context* context) : context(context) {}

  void put(const char* data, int count) {
    if (result != DozidiCrashJSON_OK || count <= 0) return;
    if (length + count > static_cast<int>(sizeof bytes)) {
      flush();
      if (count > static_cast<int>(sizeof bytes)) {
        if (result == DozidiCrashJSON_OK) result = context->addJSONData(data, count, context->userData);
        return;
      }
    }
    std::memcpy(bytes + length, data, static_cast<std::size_t>(count));
    length += count;
  }
  void put(char c) { put(&c, 1); }
  void put(const char* text) { put(text, static_cast<int>(std::strlen(text))); }

  int flush() {
    if (result == DozidiCrashJSON_OK && length > 0) result = context->addJSONData(bytes, length, context->userData);
    length = 0;
    return result;
  }

  Context* context;
  int result = DozidiCrashJSON_OK;
  int length = 0;
  char bytes[512];
};

void putIndent(Pending& out, int level) {
  out.put('\n');
  int spaces = level * 4;
  const int chunk = static_cast<int>(sizeof kSpaces) - 1;
  while (spaces > 0) {
    const int count = spaces < chunk ? spaces : chunk;
    out.put(kSpaces, count);
    spaces -= count;
  }
}

// Bytes from 0x80 up stop the plain run too: they are copied only as part of a well-formed UTF-8
// sequence, so text read from memory at crash time never makes the report unreadable.
bool needsEscape(unsigned char c) { return c < 0x20 || c == '"' || c == '\\' || c >= 0x80; }

/// True when one of the eight bytes of `v` is a control byte, a quote, a backslash or a byte from
/// 0x80 up (the classic "has zero byte" and "has byte less than" word tricks).
bool wordNeedsEscape(std::uint64_t v) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
  constexpr std::uint64_t kHighs = 0x8080808080808080ULL;
  const std::uint64_t quotes = v ^ (kOnes * '"');
  const std::uint64_t backslashes = v ^ (kOnes * '\\');
  const std::uint64_t hasControl = (v - kOnes * 0x20) & ~v;
  const std::uint64_t hasQuote = (quotes - kOnes) & ~quotes;
  const std::uint64_t hasBackslash = (backslashes - kOnes) & ~backslashes;
  return ((hasControl | hasQuote | hasBackslash | v) & kHighs) != 0;
}

/// The end of the run of bytes from `i` on that need no escaping.
int plainRunEnd(const char* value, int i, int length) {
  while (i + 8 <= length) {
    std::uint64_t word;
    std::memcpy(&word, value + i, sizeof word);
    if (wordNeedsEscape(word)) break;
    i += 8;
  }
  while (i < length && !needsEscape(static_cast<unsigned char>(value[i]))) ++i;
  return i;
}

void putEscaped(Pending& out, const char* value, int length) {
  static constexpr char kHex[] = "0123456789abcdef";
  int i = 0;
  while (i < length) {
    // Runs without anything to escape (most text) are copied as they stand.
    const int plain = plainRunEnd(value, i, length);
    out.put(value + i, plain - i);
    if (plain >= length) return;
    const unsigned char c = static_cast<unsigned char>(value[plain]);
    if (c >= 0x80) {
      // A well-formed sequence stands as it is; any other byte becomes U+FFFD.
      const std::size_t sequence =
          foundation::utf8SequenceLength(std::string_view(value + plain, static_cast<std::size_t>(length - plain)));
      if (sequence > 0) {
        out.put(value + plain, static_cast<int>(sequence));
        i = plain + static_cast<int>(sequence);
      } else {
        out.put("\\ufffd", 6);
        i = plain + 1;
      }
      continue;
    }
    switch (c) {
      case '"': out.put("\\\"", 2); break;
      case '\\': out.put("\\\\", 2); break;
      case '\b': out.put("\\b", 2); break;
      case '\t': out.put("\\t", 2); break;
      case '\n': out.put("\\n", 2); break;
      case '\f': out.put("\\f", 2); break;
      case '\r': out.put("\\r", 2); break;
      default: {
        // Any other control byte (a thread name or exception text may hold one) is escaped, so
        // the report stays readable JSON.
        const char escaped[6] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
        out.put(escaped, 6);
      }
    }
    i = plain + 1;
  }
}

void putQuoted(Pending& out, const char* value, int length) {
  out.put('"');
  putEscaped(out, value, length);
  out.put('"');
}

/// The separator, indentation and member name that precede every element.
int beginElement(Pending& out, const char* name) {
  Context* context = out.context;
  const bool inObject = context->isObject[context->containerLevel];
  if (inObject && name == nullptr) return DozidiCrashJSON_ERROR_INVALID_DATA;
  if (!context->containerFirstEntry) out.put(',');
  context->containerFirstEntry = false;
  if (context->prettyPrint && context->containerLevel > 0) putIndent(out, context->containerLevel);
  if (inObject) {
    putQuoted(out, name, static_cast<int>(std::strlen(name)));
    out.put(context->prettyPrint ? ": " : ":");
  }
  return DozidiCrashJSON_OK;
}

/// An element whose value text needs no escaping.
int addPlainElement(Context* context, const char* name, const char* text, int length) {
  Pending out(context);
  const int result = beginElement(out, name);
  if (result != DozidiCrashJSON_OK) return result;
  out.put(text, length);
  return out.flush();
}

int beginContainer(Context* context, const char* name, bool isObject) {
  if (context->containerLevel >= kDozidiCrashJSONMaxDepth) return DozidiCrashJSON_ERROR_CANNOT_ADD_DATA;
  Pending out(context);
  if (context->containerLevel >= 0) {
    const int result = beginElement(out, name);
    if (result != DozidiCrashJSON_OK) return result;
  }
  context->containerLevel++;
  context->isObject[context->containerLevel] = isObject;
  context->containerFirstEntry = true;
  out.put(isObject ? '{' : '[');
  return out.flush();
}

}  // namespace

const char* dozidicrashjson_stringForError(int error) {
  switch (error) {
    case DozidiCrashJSON_OK: return "(success)";
    case DozidiCrashJSON_ERROR_INVALID_CHARACTER: return "Invalid character";
    case DozidiCrashJSON_ERROR_DATA_TOO_LONG: return "Data too long";
    case DozidiCrashJSON_ERROR_CANNOT_ADD_DATA: return "Cannot add data";
    case DozidiCrashJSON_ERROR_INCOMPLETE: return "Incomplete data";
    case DozidiCrashJSON_ERROR_INVALID_DATA: return "Invalid data";
    default: return "(unknown error)";
  }
}

int dozidicrashjson_beginEncode(Context* context, bool prettyPrint, DozidiCrashJSONAddDataFunc addJSONData,
                                void* userData) {
  std::memset(context, 0, sizeof *context);
  context->addJSONData = addJSONData;
  context->userData = userData;
  context->prettyPrint = prettyPrint;
  context->containerFirstEntry = true;
  return DozidiCrashJSON_OK;
}

int dozidicrashjson_endEncode(Context* context) {
  int result = DozidiCrashJSON_OK;
  while (context->containerLevel > 0 && result == DozidiCrashJSON_OK) {
    result = dozidicrashjson_endContainer(context);
  }
  return result;
}

int dozidicrashjson_addBooleanElement(Context* context, const char* name, bool value) {
  return value ? addPlainElement(context, name, "true", 4) : addPlainElement(context, name, "false", 5);
}

int dozidicrashjson_addIntegerElement(Context* context, const char* name, std::int64_t value) {
  char text[30];
  return addPlainElement(context, name, text, static_cast<int>(dozidicrashfmt_int64(text, value)));
}

int dozidicrashjson_addFloatingPointElement(Context* context, const char* name, double value) {
  if (!std::isfinite(value)) return dozidicrashjson_addNullElement(context, name);
  // to_chars with a precision formats exactly as printf's "%g" would, from a fixed buffer and
  // without the locale or allocation that make printf unusable in a signal handler.
  char text[50];
  const auto converted = std::to_chars(text, text + sizeof text, value, std::chars_format::general, 6);
  if (converted.ec != std::errc()) return DozidiCrashJSON_ERROR_INVALID_DATA;
  return addPlainElement(context, name, text, static_cast<int>(converted.ptr - text));
}

int dozidicrashjson_addNullElement(Context* context, const char* name) {
  return addPlainElement(context, name, "null", 4);
}

int dozidicrashjson_addStringElement(Context* context, const char* name, const char* value, int length) {
  if (value == nullptr) return dozidicrashjson_addNullElement(context, name);
  if (length < 0) length = static_cast<int>(std::strlen(value));
  Pending out(context);
  const int result = beginElement(out, name);
  if (result != DozidiCrashJSON_OK) return result;
  putQuoted(out, value, length);
  return out.flush();
}

int dozidicrashjson_beginStringElement(Context* context, const char* name) {
  return addPlainElement(context, name, "\"", 1);
}

int dozidicrashjson_appendStringElement(Context* context, const char* value, int length) {
  Pending out(context);
  putEscaped(out, value, length);
  return out.flush();
}

int dozidicrashjson_endStringElement(Context* context) { return context->addJSONData("\"", 1, context->userData); }

int dozidicrashjson_addDataElement(Context* context, const char* name, const char* value, int length) {
  int result = dozidicrashjson_beginDataElement(context, name);
  if (result == DozidiCrashJSON_OK) result = dozidicrashjson_appendDataElement(context, value, length);
  if (result == DozidiCrashJSON_OK) result = dozidicrashjson_endDataElement(context);
  return result;
}

int dozidicrashjson_beginDataElement(Context* context, const char* name) {
  return dozidicrashjson_beginStringElement(context, name);
}

int dozidicrashjson_appendDataElement(Context* context, const char* value, int length) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  Pending out(context);
  for (int i = 0; i < length; ++i) {
    const unsigned char c = static_cast<unsigned char>(value[i]);
    const char pair[2] = {kHex[c >> 4], kHex[c & 0xF]};
    out.put(pair, 2);
  }
  return out.flush();
}

int dozidicrashjson_endDataElement(Context* context) { return dozidicrashjson_endStringElement(context); }

int dozidicrashjson_beginObject(Context* context, const char* name) { return beginContainer(context, name, true); }

int dozidicrashjson_beginArray(Context* context, const char* name) { return beginContainer(context, name, false); }

int dozidicrashjson_endContainer(Context* context) {
  if (context->containerLevel <= 0) return DozidiCrashJSON_OK;
  const bool isObject = context->isObject[context->containerLevel];
  context->containerLevel--;
  Pending out(context);
  if (context->prettyPrint && !context->containerFirstEntry) putIndent(out, context->containerLevel);
  context->containerFirstEntry = false;
  out.put(isObject ? '}' : ']');
  return out.flush();
}

int dozidicrashjson_addEncodedElements(Context* context, const char* text, int length) {
  if (length <= 0) return DozidiCrashJSON_OK;
  if (!context->containerFirstEntry) return DozidiCrashJSON_ERROR_INVALID_DATA;
  context->containerFirstEntry = false;
  return context->addJSONData(text, length, context->userData);
}

// ---------------------------------------------------------------------------------------------
// Decoder

namespace {

struct Decoder {
  const char* pos;
  const char* end;
  const char* base;        ///< start of the bytes `pos` walks through (for the error offset)
  long long dropped;       ///< bytes already consumed before `base` (file input)
  char* nameBuffer;
  int nameLength;
  char* valueBuffer;
  int valueLength;
  const DozidiCrashJSONDecodeCallbacks* callbacks;
  void* userData;
  int depth;
  /// Brings more input after `pos`, moving the unread bytes; false when none can come.
  bool (*refill)(Decoder* decoder);
  void* source;
};

/// True when at least `count` unread bytes are available (refilling as needed).
bool ensure(Decoder* d, long count) {
  while (d->end - d->pos < count) {
    if (d->refill == nullptr || !d->refill(d)) return false;
  }
  return true;
}

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

void skipWhitespace(Decoder* d) {
  while (ensure(d, 1) && isSpace(*d->pos)) d->pos++;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

/// Reads four hexadecimal digits at `src` (bounded by `end`) into `value`.
int readCodeUnit(const char* src, const char* end, unsigned* value) {
  if (end - src < 4) return DozidiCrashJSON_ERROR_INCOMPLETE;
  unsigned result = 0;
  for (int i = 0; i < 4; ++i) {
    const int digit = hexValue(src[i]);
    if (digit < 0) return DozidiCrashJSON_ERROR_INVALID_CHARACTER;
    result = result * 16 + static_cast<unsigned>(digit);
  }
  *value = result;
  return DozidiCrashJSON_OK;
}

int writeUTF8(unsigned codePoint, char* dst) {
  if (codePoint < 0x80) {
    dst[0] = static_cast<char>(codePoint);
    return 1;
  }
  if (codePoint < 0x800) {
    dst[0] = static_cast<char>(0xC0 | (codePoint >> 6));
    dst[1] = static_cast<char>(0x80 | (codePoint & 0x3F));
    return 2;
  }
  if (codePoint < 0x10000) {
    dst[0] = static_cast<char>(0xE0 | (codePoint >> 12));
    dst[1] = static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    dst[2] = static_cast<char>(0x80 | (codePoint & 0x3F));
    return 3;
  }
  dst[0] = static_cast<char>(0xF0 | (codePoint >> 18));
  dst[1] = static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
  dst[2] = static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
  dst[3] = static_cast<char>(0x80 | (codePoint & 0x3F));
  return 4;
}

/// Resolves the escapes of the raw string bytes [src, end) into `dst`, which holds at least as
/// many bytes as the raw text (no escape produces more bytes than it occupies).
int unescape(const char* src, const char* end, char* dst) {
  while (src < end) {
    if (*src != '\\') {
      *dst++ = *src++;
      continue;
    }
    src++;
    if (src >= end) return DozidiCrashJSON_ERROR_INCOMPLETE;
    const char c = *src++;
    switch (c) {
      case '"': case '\\': case '/': *dst++ = c; break;
      case 'b': *dst++ = '\b'; break;
      case 'f': *dst++ = '\f'; break;
      case 'n': *dst++ = '\n'; break;
      case 'r': *dst++ = '\r'; break;
      case 't': *dst++ = '\t'; break;
      case 'u': {
        unsigned unit = 0;
        int result = readCodeUnit(src, end, &unit);
        if (result != DozidiCrashJSON_OK) return result;
        src += 4;
        if (unit >= 0xDC00 && unit <= 0xDFFF) return DozidiCrashJSON_ERROR_INVALID_CHARACTER;
        unsigned codePoint = unit;
        if (unit >= 0xD800 && unit <= 0xDBFF) {
          if (end - src < 6) return DozidiCrashJSON_ERROR_INCOMPLETE;
          if (src[0] != '\\' || src[1] != 'u') return DozidiCrashJSON_ERROR_INVALID_CHARACTER;
          unsigned low = 0;
          result = readCodeUnit(src + 2, end, &low);
          if (result != DozidiCrashJSON_OK) return result;
          if (low < 0xDC00 || low > 0xDFFF) return DozidiCrashJSON_ERROR_INVALID_CHARACTER;
          src += 6;
          codePoint = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
        }
        dst += writeUTF8(codePoint, dst);
        break;
      }
      default:
        return DozidiCrashJSON_ERROR_INVALID_CHARACTER;
    }
  }
  *dst = '\0';
  return DozidiCrashJSON_OK;
}

/// Decodes the string at `pos` (its opening quote) into `dst` of `dstLength` bytes.
int decodeString(Decoder* d, char* dst, int dstLength) {
  long i = 1;
  bool hasEscape = false;
  for (;;) {
    // The raw text must be shorter than the buffer; stopping here also bounds the scan.
    if (i - 1 >= dstLength) return DozidiCrashJSON_ERROR_DATA_TOO_LONG;
    if (!ensure(d, i + 1)) return DozidiCrashJSON_ERROR_INCOMPLETE;
    const char c = d->pos[i];
    if (c == '"') break;
    if (c == '\\') {
      hasEscape = true;
      i += 2;
    } else {
      i++;
    }
  }
  const char* src = d->pos + 1;
  const char* end = d->pos + i;
  if (hasEscape) {
    const int result = unescape(src, end, dst);
    if (result != DozidiCrashJSON_OK) return result;
  } else {
    std::memcpy(dst, src, static_cast<std::size_t>(end - src));
    dst[end - src] = '\0';
  }
  d->pos += i + 1;
  return DozidiCrashJSON_OK;
}

int decodeLiteral(Decoder* d, const char* literal) {
  const long length = static_cast<long>(std::strlen(literal));
  if (!ensure(d, length)) return DozidiCrashJSON_ERROR_INCOMPLETE;
  if (std::memcmp(d->pos, literal, static_cast<std::size_t>(length)) != 0) {
    return DozidiCrashJSON_ERROR_INVALID_CHARACTER;
  }
  d->pos += length;
  return DozidiCrashJSON_OK;
}

bool continuesFloat(char c) { return c == '.' || c == 'e' || c == 'E' || c == '+' || c == '-'; }

int decodeNumber(Decoder* d, const char* name) {
  long i = 0;
  std::int64_t sign = 1;
  if (*d->pos == '-') {
    sign = -1;
    i = 1;
    if (!ensure(d, 2)) return DozidiCrashJSON_ERROR_INCOMPLETE;
    if (!isDigit(d->pos[1])) return DozidiCrashJSON_ERROR_INVALID_CHARACTER;
  }
  const long start = i;
  std::int64_t accumulated = 0;
  bool overflowed = false;
  char c;
  for (;;) {
    if (!ensure(d, i + 1)) return DozidiCrashJSON_ERROR_INCOMPLETE;
    c = d->pos[i];
    if (!isDigit(c)) break;
    const int digit = c - '0';
    if (!overflowed && accumulated > (INT64_MAX - digit) / 10) overflowed = true;
    if (!overflowed) accumulated = accumulated * 10 + digit;
    i++;
  }
  if (!overflowed && !continuesFloat(c)) {
    d->pos += i;
    return d->callbacks->onIntegerElement(name, accumulated * sign, d->userData);
  }
  for (;;) {
    if (i - start >= d->valueLength) return DozidiCrashJSON_ERROR_DATA_TOO_LONG;
    if (!ensure(d, i + 1)) return DozidiCrashJSON_ERROR_INCOMPLETE;
    c = d->pos[i];
    if (!isDigit(c) && !continuesFloat(c)) break;
    i++;
  }
  const long length = i - start;
  std::memcpy(d->valueBuffer, d->pos + start, static_cast<std::size_t>(length));
  d->valueBuffer[length] = '\0';
  // from_chars reads the longest number at the front, as "%lg" would, without the locale.
  double value = 0;
  const auto parsed = std::from_chars(d->valueBuffer, d->valueBuffer + length, value);
  if (parsed.ec == std::errc::result_out_of_range) {
    const bool tiny = std::strstr(d->valueBuffer, "e-") != nullptr || std::strstr(d->valueBuffer, "E-") != nullptr;
    value = tiny ? 0.0 : HUGE_VAL;
  } else if (parsed.ec != std::errc()) {
    return DozidiCrashJSON_ERROR_INVALID_CHARACTER;
  }
  d->pos += i;
  return d->callbacks->onFloatingPointElement(name, value * static_cast<double>(sign), d->userData);
}

int decodeElement(Decoder* d, const char* name);

int decodeContainer(Decoder* d, const char* name, bool isObject) {
  if (d->depth >= kDozidiCrashJSONMaxDepth) return DozidiCrashJSON_ERROR_DATA_TOO_LONG;
  d->pos++;
  int result = isObject ? d->callbacks->onBeginObject(name, d->userData)
                        : d->callbacks->onBeginArray(name, d->userData);
  if (result != DozidiCrashJSON_OK) return result;
  d->depth++;
  const char closing = isObject ? '}' : ']';
  for (;;) {
    skipWhitespace(d);
    if (!ensure(d, 1)) return DozidiCrashJSON_ERROR_INCOMPLETE;
    if (*d->pos == closing) {
      d->pos++;
      d->depth--;
      return d->callbacks->onEndContainer(d->userData);
    }
    if (isObject) {
      if (*d->pos != '"') return DozidiCrashJSON_ERROR_INVALID_CHARACTER;
      result = decodeString(d, d->nameBuffer, d->nameLength);
      if (result != DozidiCrashJSON_OK) return result;
      skipWhitespace(d);
      if (!ensure(d, 1)) return DozidiCrashJSON_ERROR_INCOMPLETE;
      if (*d->pos != ':') return DozidiCrashJSON_ERROR_INVALID_CHARACTER;
      d->pos++;
      result = decodeElement(d, d->nameBuffer);
    } else {
      result = decodeElement(d, nullptr);
    }
    if (result != DozidiCrashJSON_OK) return result;
    skipWhitespace(d);
    if (ensure(d, 1) && *d->pos == ',') d->pos++;
  }
}

int decodeElement(Decoder* d, const char* name) {
  skipWhitespace(d);
  if (!ensure(d, 1)) return DozidiCrashJSON_ERROR_INCOMPLETE;
  switch (*d->pos) {
    case '{':
      return decodeContainer(d, name, true);
    case '[':
      return decodeContainer(d, name, false);
    case '"': {
      const int result = decodeString(d, d->valueBuffer, d->valueLength);
      return result != DozidiCrashJSON_OK ? result : d->callbacks->onStringElement(name, d->valueBuffer, d->userData);
    }
    case 'n': {
      const int result = decodeLiteral(d, "null");
      return result != DozidiCrashJSON_OK ? result : d->callbacks->onNullElement(name, d->userData);
    }
    case 't': {
      const int result = decodeLiteral(d, "true");
      return result != DozidiCrashJSON_OK ? result : d->callbacks->onBooleanElement(name, true, d->userData);
    }
    case 'f': {
      const int result = decodeLiteral(d, "false");
      return result != DozidiCrashJSON_OK ? result : d->callbacks->onBooleanElement(name, false, d->userData);
    }
    default:
      if (*d->pos == '-' || isDigit(*d->pos)) return decodeNumber(d, name);
      return DozidiCrashJSON_ERROR_INVALID_CHARACTER;
  }
}

int runDecoder(Decoder* d, int* errorOffset) {
  int result = decodeElement(d, nullptr);
  if (result == DozidiCrashJSON_OK) result = d->callbacks->onEndData(d->userData);
  if (errorOffset != nullptr) {
    *errorOffset = result == DozidiCrashJSON_OK ? 0 : static_cast<int>(d->dropped + (d->pos - d->base));
  }
  return result;
}

}  // namespace

int dozidicrashjson_decode(const char* data, int length, char* stringBuffer, int stringBufferLength,
                           const DozidiCrashJSONDecodeCallbacks* callbacks, void* userData, int* errorOffset) {
  Decoder d{};
  d.pos = data;
  d.end = data + (length > 0 ? length : 0);
  d.base = data;
  d.nameLength = stringBufferLength / 4;
  d.nameBuffer = stringBuffer;
  d.valueBuffer = stringBuffer + d.nameLength;
  d.valueLength = stringBufferLength - d.nameLength;
  d.callbacks = callbacks;
  d.userData = userData;
  return runDecoder(&d, errorOffset);
}

// ---------------------------------------------------------------------------------------------
// Re-emitting JSON into an open encoder

namespace {

struct Reemitter {
  Context* encoder;
  const char* topName;
  int depth;  ///< containers of the re-emitted text that are open
  bool closeLastContainer;
};

const char* reemitName(Reemitter* r, const char* name) { return r->depth == 0 ? r->topName : name; }

int onBoolean(const char* name, bool value, void* userData) {
  auto* r = static_cast<Reemitter*>(userData);
  return dozidicrashjson_addBooleanElement(r->encoder, reemitName(r, name), value);
}
int onFloat(const char* name, double value, void* userData) {
  auto* r = static_cast<Reemitter*>(userData);
  return dozidicrashjson_addFloatingPointElement(r->encoder, reemitName(r, name), value);
}
int onInteger(const char* name, std::int64_t value, void* userData) {
  auto* r = static_cast<Reemitter*>(userData);
  return dozidicrashjson_addIntegerElement(r->encoder, reemitName(r, name), value);
}
int onNull(const char* name, void* userData) {
  auto* r = static_cast<Reemitter*>(userData);
  return dozidicrashjson_addNullElement(r->encoder, reemitName(r, name));
}
int onString(const char* name, const char* value, void* userData) {
  auto* r = static_cast<Reemitter*>(userData);
  return dozidicrashjson_addStringElement(r->encoder, reemitName(r, name), value, -1);
}
int onBeginObject(const char* name, void* userData) {
  auto* r = static_cast<Reemitter*>(userData);
  const int result = dozidicrashjson_beginObject(r->encoder, reemitName(r, name));
  r->depth++;
  return result;
}
int onBeginArray(const char* name, void* userData) {
  auto* r = static_cast<Reemitter*>(userData);
  const int result = dozidicrashjson_beginArray(r->encoder, reemitName(r, name));
  r->depth++;
  return result;
}
int onEndContainer(void* userData) {
  auto* r = static_cast<Reemitter*>(userData);
  r->depth--;
  // Only the outermost container may stay open, for the caller to add members to it.
  if (r->depth > 0 || r->closeLastContainer) return dozidicrashjson_endContainer(r->encoder);
  return DozidiCrashJSON_OK;
}
int onEndData(void*) { return DozidiCrashJSON_OK; }

constexpr DozidiCrashJSONDecodeCallbacks kReemitCallbacks = {
    onBoolean, onFloat, onInteger, onNull, onString, onBeginObject, onBeginArray, onEndContainer, onEndData,
};

int reemit(Decoder* d, Context* context, const char* name, bool closeLastContainer) {
  Reemitter r{context, name, 0, closeLastContainer};
  const int levelBefore = context->containerLevel;
  d->callbacks = &kReemitCallbacks;
  d->userData = &r;
  int result = runDecoder(d, nullptr);
  if (closeLastContainer) {
    while (context->containerLevel > levelBefore) {
      const int closed = dozidicrashjson_endContainer(context);
      if (closed != DozidiCrashJSON_OK) return result != DozidiCrashJSON_OK ? result : closed;
    }
  }
  return result;
}

constexpr int kFileReadBufferSize = 1000;

struct FileSource {
  int fd;
  const char* path;
  bool finished;
  char buffer[kFileReadBufferSize];
};

bool refillFromFile(Decoder* d) {
  auto* source = static_cast<FileSource*>(d->source);
  if (source->finished) return false;
  const long unread = d->end - d->pos;
  d->dropped += d->pos - source->buffer;
  std::memmove(source->buffer, d->pos, static_cast<std::size_t>(unread));
  d->pos = source->buffer;
  d->base = source->buffer;
  d->end = source->buffer + unread;
  const long room = kFileReadBufferSize - unread;
  if (room <= 0) return false;
  ssize_t count;
  count = foundation::retryOnInterrupt(
      [&] { return ::read(source->fd, source->buffer + unread, static_cast<std::size_t>(room)); });
  if (count < 0) DOZIDICRASHLOG_ERROR("Error reading file %s: %s", source->path, dozidicrashfmt_errorText(errno));
  if (count <= 0) {
    source->finished = true;
    return false;
  }
  d->end += count;
  return true;
}

}  // namespace

int dozidicrashjson_addJSONElement(Context* context, const char* name, const char* jsonData, int length,
                                   bool closeLastContainer) {
  char nameBuffer[100];
  char valueBuffer[5000];
  Decoder d{};
  d.pos = jsonData;
  d.end = jsonData + (length > 0 ? length : 0);
  d.base = jsonData;
  d.nameBuffer = nameBuffer;
  d.nameLength = sizeof nameBuffer;
  d.valueBuffer = valueBuffer;
  d.valueLength = sizeof valueBuffer;
  return reemit(&d, context, name, closeLastContainer);
}

int dozidicrashjson_addJSONFromFile(Context* context, const char* name, const char* path, bool closeLastContainer) {
  char nameBuffer[100];
  char valueBuffer[500];
  FileSource source{};
  source.path = path;
  source.fd = foundation::retryOnInterrupt([&] { return ::open(path, O_RDONLY | O_CLOEXEC); });
  if (source.fd < 0) {
    DOZIDICRASHLOG_ERROR("Could not open file %s: %s", path, dozidicrashfmt_errorText(errno));
    source.finished = true;
  }
  Decoder d{};
  d.pos = source.buffer;
  d.end = source.buffer;
  d.base = source.buffer;
  d.nameBuffer = nameBuffer;
  d.nameLength = sizeof nameBuffer;
  d.valueBuffer = valueBuffer;
  d.valueLength = sizeof valueBuffer;
  d.refill = refillFromFile;
  d.source = &source;
  const int result = reemit(&d, context, name, closeLastContainer);
  if (source.fd >= 0) ::close(source.fd);
  return result;
}
