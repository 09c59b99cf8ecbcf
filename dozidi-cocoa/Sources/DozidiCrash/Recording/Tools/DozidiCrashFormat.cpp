#include "DozidiCrashFormat.h"

#include <cstring>

namespace {

/// Appends into a fixed buffer, keeping room for the closing NUL and dropping what does not fit.
struct Output {
  char* buffer;
  std::size_t capacity;
  std::size_t length = 0;

  void put(char c) {
    if (length + 1 < capacity) buffer[length++] = c;
  }
  void put(const char* text, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) put(text[i]);
  }
};

/// Digits of `value` in base 10 or 16, most significant first, into `digits` (at least 64
/// bytes). The bases are constants so that the divisions become multiplications.
std::size_t unsignedDigits(char* digits, std::uint64_t value, unsigned base, bool upper) {
  const char* alphabet = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  char reversed[64];
  std::size_t count = 0;
  if (base == 16) {
    do {
      reversed[count++] = alphabet[value & 0xF];
      value >>= 4;
    } while (value != 0);
  } else {
    do {
      reversed[count++] = alphabet[value % 10];
      value /= 10;
    } while (value != 0);
  }
  for (std::size_t i = 0; i < count; ++i) digits[i] = reversed[count - 1 - i];
  return count;
}

void putNumber(Output& out, std::uint64_t magnitude, bool negative, unsigned base, bool upper,
               unsigned width, bool zeroPad) {
  char digits[64];
  const std::size_t count = unsignedDigits(digits, magnitude, base, upper);
  const std::size_t total = count + (negative ? 1 : 0);
  if (!zeroPad) {
    for (std::size_t i = total; i < width; ++i) out.put(' ');
  }
  if (negative) out.put('-');
  if (zeroPad) {
    for (std::size_t i = total; i < width; ++i) out.put('0');
  }
  out.put(digits, count);
}

}  // namespace

std::size_t dozidicrashfmt_vformat(char* buffer, std::size_t capacity, const char* format, va_list args) {
  Output out{buffer, capacity};
  if (format == nullptr) format = "(null)";
  for (const char* p = format; *p != '\0'; ++p) {
    if (*p != '%') {
      out.put(*p);
      continue;
    }
    ++p;
    bool zeroPad = false;
    if (*p == '0') {
      zeroPad = true;
      ++p;
    }
    unsigned width = 0;
    while (*p >= '0' && *p <= '9') width = width * 10 + unsigned(*p++ - '0');
    int longs = 0;
    bool sizeT = false;
    while (*p == 'l') {
      ++longs;
      ++p;
    }
    if (*p == 'z') {
      sizeT = true;
      ++p;
    }
    switch (*p) {
      case '\0':
        --p;
        break;
      case '%':
        out.put('%');
        break;
      case 'c':
        out.put(static_cast<char>(va_arg(args, int)));
        break;
      case 's': {
        const char* text = va_arg(args, const char*);
        if (text == nullptr) text = "(null)";
        const std::size_t length = std::strlen(text);
        for (std::size_t i = length; i < width; ++i) out.put(' ');
        out.put(text, length);
        break;
      }
      case 'd':
      case 'i': {
        std::int64_t value;
        if (sizeT) value = static_cast<std::int64_t>(va_arg(args, std::ptrdiff_t));
        else if (longs >= 2) value = va_arg(args, long long);
        else if (longs == 1) value = va_arg(args, long);
        else value = va_arg(args, int);
        const bool negative = value < 0;
        const std::uint64_t magnitude =
            negative ? ~static_cast<std::uint64_t>(value) + 1 : static_cast<std::uint64_t>(value);
        putNumber(out, magnitude, negative, 10, false, width, zeroPad);
        break;
      }
      case 'u':
      case 'x':
      case 'X': {
        std::uint64_t value;
        if (sizeT) value = va_arg(args, std::size_t);
        else if (longs >= 2) value = va_arg(args, unsigned long long);
        else if (longs == 1) value = va_arg(args, unsigned long);
        else value = va_arg(args, unsigned);
        putNumber(out, value, false, *p == 'u' ? 10 : 16, *p == 'X', width, zeroPad);
        break;
      }
      case 'p': {
        out.put("0x", 2);
        putNumber(out, reinterpret_cast<std::uintptr_t>(va_arg(args, void*)), false, 16, false, 0, false);
        break;
      }
      default:
        // An unknown conversion is copied as it stands rather than guessed at.
        out.put('%');
        out.put(*p);
        break;
    }
  }
  if (capacity > 0) buffer[out.length] = '\0';
  return out.length;
}

std::size_t dozidicrashfmt_format(char* buffer, std::size_t capacity, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::size_t length = dozidicrashfmt_vformat(buffer, capacity, format, args);
  va_end(args);
  return length;
}

std::size_t dozidicrashfmt_int64(char* buffer, std::int64_t value) {
  // The report writer formats many integers: this path skips the format parsing.
  const bool negative = value < 0;
  std::uint64_t magnitude = negative ? ~static_cast<std::uint64_t>(value) + 1 : static_cast<std::uint64_t>(value);
  // Two digits per division: the report writer formats thousands of addresses.
  static constexpr char kPairs[] =
      "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
      "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
      "8081828384858687888990919293949596979899";
  char reversed[20];
  std::size_t count = 0;
  while (magnitude >= 100) {
    const std::size_t pair = static_cast<std::size_t>(magnitude % 100) * 2;
    magnitude /= 100;
    reversed[count++] = kPairs[pair + 1];
    reversed[count++] = kPairs[pair];
  }
  if (magnitude >= 10) {
    const std::size_t pair = static_cast<std::size_t>(magnitude) * 2;
    reversed[count++] = kPairs[pair + 1];
    reversed[count++] = kPairs[pair];
  } else {
    reversed[count++] = static_cast<char>('0' + magnitude);
  }
  std::size_t length = 0;
  if (negative) buffer[length++] = '-';
  while (count > 0) buffer[length++] = reversed[--count];
  buffer[length] = '\0';
  return length;
}

const char* dozidicrashfmt_errorText(int errnum) {
  // strerrordesc_np reads a constant table: no locale, no buffer, unlike strerror.
  const char* text = strerrordesc_np(errnum);
  return text != nullptr ? text : "Unknown error";
}
