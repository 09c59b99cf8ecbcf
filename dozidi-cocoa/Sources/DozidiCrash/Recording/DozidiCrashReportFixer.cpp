#include "DozidiCrashReportFixer.h"

#include <array>
#include <cstdint>
#include <ctime>
#include <vector>

#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashFormat.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashJSON.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashLogger.h"

namespace {

constexpr int kStringBufferSize = 100'000;
constexpr std::size_t kMaxNameStackDepth = 100;
constexpr std::size_t kMaxNameLength = 100;

/// Name paths of the integer timestamps that become date text: the container names from the
/// top-level object down, then the element's own name.
const std::array<std::vector<std::string_view>, 2> kDatePaths = {{
    {"", "report", "timestamp"},
    {"", "recrash_report", "report", "timestamp"},
}};

struct Fixer {
  DozidiCrashJSONEncodeContext encoder;
  std::string output;
  std::vector<std::string> names;
};

bool isDatePath(const Fixer& fixer, const char* name) {
  if (name == nullptr) return false;
  for (const auto& path : kDatePaths) {
    if (fixer.names.size() + 1 != path.size()) continue;
    bool matches = path.back() == std::string_view(name).substr(0, kMaxNameLength);
    for (std::size_t i = 0; matches && i < fixer.names.size(); ++i) matches = fixer.names[i] == path[i];
    if (matches) return true;
  }
  return false;
}

int addJSONData(const char* data, int length, void* userData) {
  static_cast<std::string*>(userData)->append(data, static_cast<std::size_t>(length));
  return DozidiCrashJSON_OK;
}

Fixer& fixerOf(void* userData) { return *static_cast<Fixer*>(userData); }

int onBoolean(const char* name, bool value, void* userData) {
  return dozidicrashjson_addBooleanElement(&fixerOf(userData).encoder, name, value);
}
int onFloat(const char* name, double value, void* userData) {
  return dozidicrashjson_addFloatingPointElement(&fixerOf(userData).encoder, name, value);
}
int onInteger(const char* name, std::int64_t value, void* userData) {
  Fixer& fixer = fixerOf(userData);
  if (isDatePath(fixer, name)) {
    const auto seconds = static_cast<std::time_t>(value);
    std::tm utc{};
    if (::gmtime_r(&seconds, &utc) != nullptr) {
      char text[64];
      dozidicrashfmt_format(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                            utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
      return dozidicrashjson_addStringElement(&fixer.encoder, name, text, -1);
    }
  }
  return dozidicrashjson_addIntegerElement(&fixer.encoder, name, value);
}
int onNull(const char* name, void* userData) {
  return dozidicrashjson_addNullElement(&fixerOf(userData).encoder, name);
}
int onString(const char* name, const char* value, void* userData) {
  return dozidicrashjson_addStringElement(&fixerOf(userData).encoder, name, value, -1);
}
int pushName(Fixer& fixer, const char* name) {
  if (fixer.names.size() >= kMaxNameStackDepth) return DozidiCrashJSON_ERROR_DATA_TOO_LONG;
  fixer.names.emplace_back(std::string_view(name == nullptr ? "" : name).substr(0, kMaxNameLength));
  return DozidiCrashJSON_OK;
}
int onBeginObject(const char* name, void* userData) {
  Fixer& fixer = fixerOf(userData);
  const int result = dozidicrashjson_beginObject(&fixer.encoder, name);
  return result != DozidiCrashJSON_OK ? result : pushName(fixer, name);
}
int onBeginArray(const char* name, void* userData) {
  Fixer& fixer = fixerOf(userData);
  const int result = dozidicrashjson_beginArray(&fixer.encoder, name);
  return result != DozidiCrashJSON_OK ? result : pushName(fixer, name);
}
int onEndContainer(void* userData) {
  Fixer& fixer = fixerOf(userData);
  if (!fixer.names.empty()) fixer.names.pop_back();
  return dozidicrashjson_endContainer(&fixer.encoder);
}
int onEndData(void* userData) { return dozidicrashjson_endEncode(&fixerOf(userData).encoder); }

constexpr DozidiCrashJSONDecodeCallbacks kCallbacks = {
    onBoolean, onFloat, onInteger, onNull, onString, onBeginObject, onBeginArray, onEndContainer, onEndData,
};

}  // namespace

std::optional<std::string> dozidicrashcrf_fixupCrashReport(std::string_view crashReport) {
  if (crashReport.size() > static_cast<std::size_t>(INT32_MAX)) {
    DOZIDICRASHLOG_ERROR("Could not decode report: %s", dozidicrashjson_stringForError(DozidiCrashJSON_ERROR_DATA_TOO_LONG));
    return std::nullopt;
  }
  std::vector<char> stringBuffer(kStringBufferSize);
  Fixer fixer;
  // The output grows as needed: a report must never be lost because its pretty text is longer.
  fixer.output.reserve(crashReport.size() + crashReport.size() / 2);
  dozidicrashjson_beginEncode(&fixer.encoder, true, addJSONData, &fixer.output);
  int errorOffset = 0;
  const int result = dozidicrashjson_decode(crashReport.data(), static_cast<int>(crashReport.size()),
                                            stringBuffer.data(), kStringBufferSize, &kCallbacks, &fixer, &errorOffset);
  if (result != DozidiCrashJSON_OK) {
    DOZIDICRASHLOG_ERROR("Could not decode report: %s", dozidicrashjson_stringForError(result));
    return std::nullopt;
  }
  return std::move(fixer.output);
}
