// Feeds arbitrary bytes to the crash recorder's streaming JSON decoder, with several string
// buffer sizes, and re-emits them through its encoder. Whatever decodes must re-emit into text
// that decodes again.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashJSON.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashJSONCodec.h"

namespace {

[[noreturn]] void fail(const char* what, std::size_t size) {
  std::fprintf(stderr, "fuzz_crash_decoder: %s for input of %zu bytes\n", what, size);
  std::abort();
}

int appendToString(const char* data, int length, void* userData) {
  static_cast<std::string*>(userData)->append(data, static_cast<std::size_t>(length));
  return DozidiCrashJSON_OK;
}

/// Re-emits `text` into a fresh encoder inside an array; the result code and the text.
std::pair<int, std::string> reemit(std::string_view text, bool pretty) {
  std::string out;
  DozidiCrashJSONEncodeContext encoder;
  dozidicrashjson_beginEncode(&encoder, pretty, appendToString, &out);
  dozidicrashjson_beginArray(&encoder, nullptr);
  const int result = dozidicrashjson_addJSONElement(&encoder, nullptr, text.data(), static_cast<int>(text.size()), true);
  dozidicrashjson_endEncode(&encoder);
  return {result, out};
}

int accept(const char*, void*) { return 0; }
const DozidiCrashJSONDecodeCallbacks kSilent = {
    [](const char*, bool, void*) { return 0; },
    [](const char*, double, void*) { return 0; },
    [](const char*, std::int64_t, void*) { return 0; },
    accept,
    [](const char*, const char*, void*) { return 0; },
    accept,
    accept,
    [](void*) { return 0; },
    [](void*) { return 0; },
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  for (int bufferLength : {8, 64, 4096}) {
    std::vector<char> buffer(static_cast<std::size_t>(bufferLength));
    int offset = -1;
    const int result = dozidicrashjson_decode(input.data(), static_cast<int>(input.size()), buffer.data(), bufferLength,
                                              &kSilent, nullptr, &offset);
    if (result < 0 || result > 5) fail("unknown error code", size);
    if (offset < 0 || static_cast<std::size_t>(offset) > size) fail("error offset outside the input", size);
  }
  const auto [result, text] = reemit(input, (size & 1) != 0);
  if (result == DozidiCrashJSON_OK && input.size() < 10'000) {
    // Escaping may lengthen names beyond the re-emitter's fixed name buffer, so the check reads
    // the text back with the object codec, whose buffers hold any short input's text.
    foundation::Error error("", 0);
    if (DozidiCrashJSONCodec::decode(text, 0, &error).isAbsent()) fail("re-emitted text does not decode", size);
  }
  (void)DozidiCrashJSONCodec::decode(input, DozidiCrashJSONCodec::kKeepPartialResult);
  return 0;
}
