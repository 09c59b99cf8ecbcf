#include "dozidi-cocoa/Sources/Dozidi/Performance/detail/DozidiJSONText.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "platform/foundation/Number.h"
#include "platform/foundation/UTF8.h"

namespace detail {

namespace {

// Per byte: 0 copies as it is, 1 starts a UTF-8 sequence to check, any other value is the letter
// after the backslash ('u' for the control characters written as \u00XX).
constexpr std::array<char, 256> makeByteActions() {
  std::array<char, 256> actions{};
  for (int c = 0; c < 0x20; ++c) actions[c] = 'u';
  actions['"'] = '"';
  actions['\\'] = '\\';
  actions['/'] = '/';
  actions['\n'] = 'n';
  actions['\r'] = 'r';
  actions['\t'] = 't';
  actions['\b'] = 'b';
  actions['\f'] = 'f';
  for (int c = 0x80; c < 0x100; ++c) actions[c] = 1;
  return actions;
}
constexpr std::array<char, 256> kByteActions = makeByteActions();

/// True when one of the 8 bytes at `p` needs more than a copy: a control character, a quote, a
/// backslash, a slash or a byte above 0x7F. Lets plain text be passed over a word at a time.
bool hasSpecialByte(const char* p) {
  constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
  constexpr std::uint64_t kHighs = 0x8080808080808080ULL;
  std::uint64_t w;
  std::memcpy(&w, p, sizeof w);
  const auto hasZeroByte = [](std::uint64_t x) { return ((x - kOnes) & ~x & kHighs) != 0; };
  const bool belowSpace = ((w - kOnes * 0x20) & ~w & kHighs) != 0;
  return (w & kHighs) != 0 || belowSpace || hasZeroByte(w ^ (kOnes * '"')) || hasZeroByte(w ^ (kOnes * '\\')) ||
         hasZeroByte(w ^ (kOnes * '/'));
}

}  // namespace

bool appendJSONString(std::string& out, std::string_view text) {
  out.reserve(out.size() + text.size() + 2);
  out += '"';
  std::size_t run = 0;  // start of the bytes not yet copied
  std::size_t i = 0;
  while (i < text.size()) {
    if (i + 8 <= text.size() && !hasSpecialByte(text.data() + i)) {
      i += 8;
      continue;
    }
    const auto c = static_cast<unsigned char>(text[i]);
    const char action = kByteActions[c];
    if (action == 0) {
      ++i;
      continue;
    }
    if (action == 1) {
      const std::size_t length = foundation::utf8SequenceLength(text.substr(i));
      if (length == 0) return false;
      i += length;
      continue;
    }
    out.append(text.data() + run, i - run);
    if (action == 'u') {
      static constexpr char kHex[] = "0123456789abcdef";
      const char escape[] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
      out.append(escape, sizeof escape);
    } else {
      const char escape[] = {'\\', action};
      out.append(escape, sizeof escape);
    }
    run = ++i;
  }
  out.append(text.data() + run, text.size() - run);
  out += '"';
  return true;
}

void appendJSONKey(std::string& out, std::string_view key) {
  out += '"';
  out += key;
  out += "\":";
}

bool appendJSONDouble(std::string& out, double value) {
  if (!std::isfinite(value)) return false;
  char digits[32];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  out.append(digits, static_cast<std::size_t>(end - digits));
  return true;
}

bool appendJSONNumber(std::string& out, const foundation::Number& number) {
  using Kind = foundation::Number::Kind;
  char digits[32];
  char* end = digits;
  switch (number.kind()) {
    case Kind::Bool: out += number.rawInt64() != 0 ? "true" : "false"; return true;
    case Kind::Int64: end = std::to_chars(digits, digits + sizeof digits, number.rawInt64()).ptr; break;
    case Kind::UInt64: end = std::to_chars(digits, digits + sizeof digits, number.rawUInt64()).ptr; break;
    case Kind::Float:
      if (!std::isfinite(number.rawDouble())) return false;
      end = std::to_chars(digits, digits + sizeof digits, static_cast<float>(number.rawDouble())).ptr;
      break;
    case Kind::Double:
    case Kind::Decimal: return appendJSONDouble(out, number.rawDouble());
  }
  out.append(digits, static_cast<std::size_t>(end - digits));
  return true;
}

}  // namespace detail
