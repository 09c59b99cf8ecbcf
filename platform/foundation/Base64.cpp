#include "platform/foundation/Base64.h"

#include <array>
#include <cstdint>

namespace foundation {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::uint8_t kInvalid = 0xFF;

constexpr std::array<std::uint8_t, 256> makeDecodeTable() {
  std::array<std::uint8_t, 256> table{};
  for (auto& entry : table) entry = kInvalid;
  for (std::uint8_t i = 0; i < 64; ++i) table[static_cast<unsigned char>(kAlphabet[i])] = i;
  return table;
}
constexpr std::array<std::uint8_t, 256> kDecodeTable = makeDecodeTable();

}  // namespace

std::string base64EncodedString(std::string_view bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const std::uint32_t group = (in[i] << 16) | (in[i + 1] << 8) | in[i + 2];
    out += kAlphabet[group >> 18];
    out += kAlphabet[(group >> 12) & 0x3F];
    out += kAlphabet[(group >> 6) & 0x3F];
    out += kAlphabet[group & 0x3F];
  }
  const std::size_t rest = bytes.size() - i;
  if (rest > 0) {
    const std::uint32_t group = (in[i] << 16) | (rest == 2 ? in[i + 1] << 8 : 0);
    out += kAlphabet[group >> 18];
    out += kAlphabet[(group >> 12) & 0x3F];
    out += rest == 2 ? kAlphabet[(group >> 6) & 0x3F] : '=';
    out += '=';
  }
  return out;
}

std::optional<Data> base64DecodedData(std::string_view text) {
  if (text.size() % 4 != 0) return std::nullopt;
  std::string out;
  out.reserve(text.size() / 4 * 3);
  for (std::size_t i = 0; i < text.size(); i += 4) {
    const bool last = i + 4 == text.size();
    // Padding may only end the text: "xx==" or "xxx=".
    std::size_t padding = 0;
    if (last && text[i + 3] == '=') padding = text[i + 2] == '=' ? 2 : 1;
    std::uint32_t group = 0;
    for (std::size_t k = 0; k < 4 - padding; ++k) {
      const std::uint8_t sextet = kDecodeTable[static_cast<unsigned char>(text[i + k])];
      if (sextet == kInvalid) return std::nullopt;
      group |= static_cast<std::uint32_t>(sextet) << (18 - 6 * k);
    }
    out += static_cast<char>(group >> 16);
    if (padding < 2) out += static_cast<char>((group >> 8) & 0xFF);
    if (padding < 1) out += static_cast<char>(group & 0xFF);
  }
  return Data(std::move(out));
}

}  // namespace foundation
