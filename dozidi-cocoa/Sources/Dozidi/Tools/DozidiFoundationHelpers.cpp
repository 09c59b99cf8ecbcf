#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiFoundationHelpers.h"

#include <langinfo.h>
#include <locale.h>
#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiError.h"
#include "platform/foundation/DateFormatting.h"
#include "platform/foundation/Error.h"

using foundation::Array;
using foundation::Data;
using foundation::Dictionary;
using foundation::Value;

namespace {

constexpr std::string_view kReservedKeyPrefix = "__dozidi";

Value sanitizedValue(const Value& value) {
  switch (value.kind()) {
    case Value::Kind::String:
    case Value::Kind::Number: return value;
    case Value::Kind::Dictionary: return dozidi_sanitize(*value.dictionary());
    case Value::Kind::Array: return dozidi_sanitize(*value.array());
    case Value::Kind::Date: return dozidi_toIso8601String(*value.date());
    default: return value.description();
  }
}

void failCompression(foundation::Error* error, const char* description) {
  if (error) *error = NSErrorFromDozidiError(DozidiError::CompressionError, description);
}

}  // namespace

Dictionary dozidi_sanitize(const Dictionary& dictionary) {
  Dictionary result;
  result.reserve(dictionary.size());
  for (const auto& [key, value] : dictionary) {
    if (key.starts_with(kReservedKeyPrefix)) continue;
    result.set(key, sanitizedValue(value));
  }
  return result;
}

Array dozidi_sanitize(const Array& array) {
  Array result;
  result.reserve(array.size());
  for (const auto& value : array) result.push_back(sanitizedValue(value));
  return result;
}

std::optional<Data> dozidi_gzippedWithCompressionLevel(const Data& data, int level, foundation::Error* error) {
  if (data.empty()) return Data();
  z_stream stream{};
  // A window wider than the input finds no more matches, and zlib's tables follow the window and
  // memory level: a full-size stream takes about 400 KiB of fresh pages, which a reporter's small
  // envelope (a session at exit) would pay for in page faults. So the window is the input's size
  // rounded up (512 bytes to zlib's 32 KiB) and the hash and buffer sizes shrink with it. The
  // gzip stream does not carry the window size; any reader takes it. 16 asks for gzip framing.
  int windowBits = 9;
  while (windowBits < 15 && (std::size_t{1} << windowBits) < data.size()) ++windowBits;
  const int memoryLevel = windowBits - 6;
  if (deflateInit2(&stream, level, Z_DEFLATED, 16 + windowBits, memoryLevel, Z_DEFAULT_STRATEGY) != Z_OK) {
    failCompression(error, "deflateInit2 error");
    return std::nullopt;
  }
  // deflateBound is a true upper bound for one finishing pass, so the buffer is never grown.
  std::string out(deflateBound(&stream, data.size()), '\0');
  std::size_t inPos = 0;
  std::size_t outPos = 0;
  // zlib counts in 32 bits: inputs of 4 GiB and more are fed in pieces.
  for (;;) {
    const uInt inChunk = static_cast<uInt>(std::min<std::size_t>(data.size() - inPos, UINT_MAX));
    const uInt outChunk = static_cast<uInt>(std::min<std::size_t>(out.size() - outPos, UINT_MAX));
    stream.next_in = const_cast<Bytef*>(data.data() + inPos);
    stream.avail_in = inChunk;
    stream.next_out = reinterpret_cast<Bytef*>(out.data() + outPos);
    stream.avail_out = outChunk;
    const bool lastInput = inPos + inChunk == data.size();
    const int rc = deflate(&stream, lastInput ? Z_FINISH : Z_NO_FLUSH);
    const std::size_t consumed = inChunk - stream.avail_in;
    const std::size_t produced = outChunk - stream.avail_out;
    inPos += consumed;
    outPos += produced;
    if (rc == Z_STREAM_END) break;
    // Anything but the stream's end is a failure once zlib can make no more progress; returning
    // what was written so far would hand out a cut stream as if it were whole.
    if ((rc != Z_OK && rc != Z_BUF_ERROR) || (consumed == 0 && produced == 0)) {
      deflateEnd(&stream);
      failCompression(error, "deflate error");
      return std::nullopt;
    }
  }
  deflateEnd(&stream);
  out.resize(outPos);
  return Data(std::move(out));
}

std::optional<Data> dozidi_nullTerminated(const std::optional<Data>& data) {
  if (!data) return std::nullopt;
  std::string bytes = data->bytes();
  bytes.push_back('\0');
  return Data(std::move(bytes));
}

std::string dozidi_toIso8601String(foundation::Date date) { return foundation::iso8601String(date); }

std::optional<foundation::Date> dozidi_fromIso8601String(std::string_view text) {
  return foundation::parseISO8601Date(text);
}

bool dozidi_timeIs24HourFormat() {
  locale_t locale = newlocale(LC_TIME_MASK, "", static_cast<locale_t>(0));
  if (locale == static_cast<locale_t>(0)) return true;
  const std::string format = nl_langinfo_l(T_FMT, locale);
  freelocale(locale);
  // %p/%P print AM/PM, %r is the 12-hour time with AM/PM, %I and %l are 12-hour hours.
  for (const char* twelveHour : {"%p", "%P", "%r", "%I", "%l"}) {
    if (format.find(twelveHour) != std::string::npos) return false;
  }
  return true;
}

void mergeEntriesFromDictionary(Dictionary& receiver, const Dictionary& other) {
  for (const auto& [key, value] : other) {
    Value* existing = receiver.findMutable(key);
    if (value.dictionary() && existing && existing->mutableDictionary()) {
      mergeEntriesFromDictionary(*existing->mutableDictionary(), *value.dictionary());
    } else {
      receiver.set(key, value);
    }
  }
}

std::string DozidiByteCountFormatter::bytesCountDescription(std::uint64_t bytes) {
  static constexpr const char* kUnits[] = {"bytes", "KB", "MB", "GB"};
  double count = static_cast<double>(bytes);
  std::size_t unit = 0;
  while (count >= 1024.0 && unit + 1 < std::size(kUnits)) {
    count /= 1024.0;
    ++unit;
  }
  // Rounded down, with a comma between groups of three digits ("#,##0" in en_US).
  std::string digits = std::to_string(static_cast<std::uint64_t>(std::floor(count)));
  std::string grouped;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) grouped.push_back(',');
    grouped.push_back(digits[i]);
  }
  return grouped + " " + kUnits[unit];
}
