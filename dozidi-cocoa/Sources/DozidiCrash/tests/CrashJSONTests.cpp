#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "AllocationCounter.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashJSON.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashJSONCodec.h"

using foundation::Array;
using foundation::Dictionary;
using foundation::Value;

namespace {

using Encoder = DozidiCrashJSONEncodeContext;

int appendToString(const char* data, int length, void* userData) {
  static_cast<std::string*>(userData)->append(data, static_cast<std::size_t>(length));
  return DozidiCrashJSON_OK;
}

/// Runs `body` against a fresh encoder and returns its text (after endEncode) and status.
struct Encoded {
  int result;
  std::string text;
};
Encoded encode(bool pretty, const std::function<int(Encoder*)>& body) {
  Encoded out{};
  Encoder encoder;
  dozidicrashjson_beginEncode(&encoder, pretty, appendToString, &out.text);
  out.result = body(&encoder);
  const int ended = dozidicrashjson_endEncode(&encoder);
  if (out.result == DozidiCrashJSON_OK) out.result = ended;
  return out;
}

// Elements encoded beforehand go into an empty container as if encoded there, and elements
// after them are separated as usual; a container with elements already refuses them.
TEST(CrashJSONEncoderTests, ElementsEncodedBeforehandJoinAnEmptyContainer) {
  const auto openArray = [](Encoder* e) {
    dozidicrashjson_beginObject(e, nullptr);
    return dozidicrashjson_beginArray(e, "a");
  };
  const auto addElements = [](Encoder* e) {
    dozidicrashjson_addIntegerElement(e, nullptr, 1);
    return dozidicrashjson_addStringElement(e, nullptr, "two", -1);
  };
  for (bool pretty : {false, true}) {
    SCOPED_TRACE(pretty ? "pretty" : "compact");
    // The elements' text, as an encoder at the same depth writes it.
    std::string beforehand;
    Encoder apart;
    dozidicrashjson_beginEncode(&apart, pretty, appendToString, &beforehand);
    openArray(&apart);
    const std::size_t start = beforehand.size();
    addElements(&apart);
    const std::string elements = beforehand.substr(start);

    const auto direct = encode(pretty, [&](Encoder* e) {
      openArray(e);
      addElements(e);
      return dozidicrashjson_addNullElement(e, nullptr);
    });
    const auto joined = encode(pretty, [&](Encoder* e) {
      openArray(e);
      dozidicrashjson_addEncodedElements(e, elements.data(), static_cast<int>(elements.size()));
      return dozidicrashjson_addNullElement(e, nullptr);
    });
    EXPECT_EQ(joined.result, DozidiCrashJSON_OK);
    EXPECT_EQ(joined.text, direct.text);
  }
  const auto refused = encode(false, [](Encoder* e) {
    dozidicrashjson_beginArray(e, nullptr);
    dozidicrashjson_addIntegerElement(e, nullptr, 1);
    return dozidicrashjson_addEncodedElements(e, "2", 1);
  });
  EXPECT_EQ(refused.result, DozidiCrashJSON_ERROR_INVALID_DATA);
  EXPECT_EQ(refused.text, "[1]");
}

TEST(CrashJSONEncoderTests, PrettyObjectIndentsByFourSpacesPerLevel) {
  auto out = encode(true, [](Encoder* e) {
    dozidicrashjson_beginObject(e, nullptr);
    return dozidicrashjson_addIntegerElement(e, "k", 1);
  });
  EXPECT_EQ(out.result, DozidiCrashJSON_OK);
  EXPECT_EQ(out.text, "{\n    \"k\": 1\n}");

  auto nested = encode(true, [](Encoder* e) {
    dozidicrashjson_beginObject(e, nullptr);
    dozidicrashjson_beginArray(e, "a");
    dozidicrashjson_addBooleanElement(e, nullptr, true);
    dozidicrashjson_endContainer(e);
    dozidicrashjson_beginObject(e, "empty");
    dozidicrashjson_endContainer(e);
    return dozidicrashjson_beginArray(e, "none");
  });
  EXPECT_EQ(nested.text, "{\n    \"a\": [\n        true\n    ],\n    \"empty\": {},\n    \"none\": []\n}");
}

TEST(CrashJSONEncoderTests, ScalarForms) {
  const struct {
    const char* name;
    std::function<int(Encoder*)> add;
    const char* expected;
  } cases[] = {
      {"slash stays", [](Encoder* e) { return dozidicrashjson_addStringElement(e, nullptr, "a/b", -1); }, "\"a/b\""},
      {"six significant digits", [](Encoder* e) { return dozidicrashjson_addFloatingPointElement(e, nullptr, 0.1234567); },
       "0.123457"},
      {"large float", [](Encoder* e) { return dozidicrashjson_addFloatingPointElement(e, nullptr, 1e20); }, "1e+20"},
      {"NaN", [](Encoder* e) { return dozidicrashjson_addFloatingPointElement(e, nullptr, NAN); }, "null"},
      {"infinity", [](Encoder* e) { return dozidicrashjson_addFloatingPointElement(e, nullptr, -INFINITY); }, "null"},
      {"control bytes", [](Encoder* e) { return dozidicrashjson_addStringElement(e, nullptr, "\x01\x0B", -1); },
       "\"\\u0001\\u000b\""},
      {"named escapes", [](Encoder* e) { return dozidicrashjson_addStringElement(e, nullptr, "\"\\\b\f\n\r\t", -1); },
       "\"\\\"\\\\\\b\\f\\n\\r\\t\""},
      {"explicit length keeps NUL", [](Encoder* e) { return dozidicrashjson_addStringElement(e, nullptr, "a\0b", 3); },
       "\"a\\u0000b\""},
      {"null string", [](Encoder* e) { return dozidicrashjson_addStringElement(e, nullptr, nullptr, -1); }, "null"},
      {"UTF-8 unchanged", [](Encoder* e) { return dozidicrashjson_addStringElement(e, nullptr, "\xC3\xA9", -1); },
       "\"\xC3\xA9\""},
      // Text read from memory at crash time may be anything; the report must stay valid JSON.
      {"stray bytes replaced",
       [](Encoder* e) { return dozidicrashjson_addStringElement(e, nullptr, "a\xFF\xC3(\xED\xA0\x80z", -1); },
       "\"a\\ufffd\\ufffd(\\ufffd\\ufffd\\ufffdz\""},
      {"four-byte character kept",
       [](Encoder* e) { return dozidicrashjson_addStringElement(e, nullptr, "\xF0\x9F\x98\x80!", -1); },
       "\"\xF0\x9F\x98\x80!\""},
      {"smallest integer", [](Encoder* e) { return dozidicrashjson_addIntegerElement(e, nullptr, INT64_MIN); },
       "-9223372036854775808"},
      {"data as hex", [](Encoder* e) { return dozidicrashjson_addDataElement(e, nullptr, "\x01\xAB\xFF", 3); },
       "\"01ABFF\""},
      {"string in pieces",
       [](Encoder* e) {
         dozidicrashjson_beginStringElement(e, nullptr);
         dozidicrashjson_appendStringElement(e, "ab", 2);
         dozidicrashjson_appendStringElement(e, "\n", 1);
         return dozidicrashjson_endStringElement(e);
       },
       "\"ab\\n\""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto out = encode(false, c.add);
    EXPECT_EQ(out.result, DozidiCrashJSON_OK);
    EXPECT_EQ(out.text, c.expected);
  }
}

TEST(CrashJSONEncoderTests, LongStringsWithEveryCharacterRoundTrip) {
  std::string bytes;
  // Every ASCII byte but NUL (which ends a decoded C string), with two- to four-byte characters
  // among them, across the encoder's eight-byte fast path.
  for (int i = 0; i < 3000; ++i) {
    bytes.push_back(static_cast<char>(i % 127 + 1));
    if (i % 97 == 0) bytes += "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
  }
  auto out = encode(false, [&](Encoder* e) {
    dozidicrashjson_beginArray(e, nullptr);
    return dozidicrashjson_addStringElement(e, nullptr, bytes.data(), static_cast<int>(bytes.size()));
  });
  ASSERT_EQ(out.result, DozidiCrashJSON_OK);
  foundation::Error error("", 0);
  Value decoded = DozidiCrashJSONCodec::decode(out.text, 0, &error);
  ASSERT_TRUE(decoded.array()) << error.localizedDescription();
  EXPECT_TRUE(decoded[0].asString() == bytes);
}

TEST(CrashJSONEncoderTests, RefusesAMemberWithoutNameAndNestingBeyondTheLimit) {
  auto unnamed = encode(false, [](Encoder* e) {
    dozidicrashjson_beginObject(e, nullptr);
    return dozidicrashjson_addNullElement(e, nullptr);
  });
  EXPECT_EQ(unnamed.result, DozidiCrashJSON_ERROR_INVALID_DATA);
  EXPECT_EQ(unnamed.text, "{}");

  Encoder* seen = nullptr;
  auto deep = encode(true, [&](Encoder* e) {
    seen = e;
    for (int i = 0; i < kDozidiCrashJSONMaxDepth; ++i) {
      if (int result = dozidicrashjson_beginArray(e, nullptr)) return result;
    }
    EXPECT_EQ(dozidicrashjson_beginArray(e, nullptr), DozidiCrashJSON_ERROR_CANNOT_ADD_DATA);
    EXPECT_EQ(e->containerLevel, kDozidiCrashJSONMaxDepth);
    EXPECT_TRUE(e->prettyPrint);  // the refused level wrote nothing past the kind flags
    return dozidicrashjson_addIntegerElement(e, nullptr, 7);
  });
  ASSERT_NE(seen, nullptr);
  EXPECT_EQ(deep.result, DozidiCrashJSON_OK);
  // The 200 containers close properly: the text reads back with its one integer inside.
  Value decoded = DozidiCrashJSONCodec::decode(deep.text, 0);
  const Value* inner = &decoded;
  for (int i = 1; i < kDozidiCrashJSONMaxDepth; ++i) inner = &(*inner)[0];
  EXPECT_EQ((*inner)[0].asInt64(), 7);
}

TEST(CrashJSONEncoderTests, OutputErrorStopsAndIsReturned) {
  auto failing = [](const char*, int, void*) { return static_cast<int>(DozidiCrashJSON_ERROR_CANNOT_ADD_DATA); };
  Encoder encoder;
  dozidicrashjson_beginEncode(&encoder, false, failing, nullptr);
  EXPECT_EQ(dozidicrashjson_beginObject(&encoder, nullptr), DozidiCrashJSON_ERROR_CANNOT_ADD_DATA);
  EXPECT_EQ(dozidicrashjson_addStringElement(&encoder, "k", "v", -1), DozidiCrashJSON_ERROR_CANNOT_ADD_DATA);
}

struct FixedBuffer {
  char bytes[1 << 20];
  std::size_t length = 0;
};
int appendToFixed(const char* data, int length, void* userData) {
  auto* buffer = static_cast<FixedBuffer*>(userData);
  if (buffer->length + static_cast<std::size_t>(length) > sizeof buffer->bytes) return DozidiCrashJSON_ERROR_DATA_TOO_LONG;
  std::memcpy(buffer->bytes + buffer->length, data, static_cast<std::size_t>(length));
  buffer->length += static_cast<std::size_t>(length);
  return DozidiCrashJSON_OK;
}

TEST(CrashJSONEncoderTests, EncodingTenThousandElementsAllocatesNothing) {
  // The hook must see allocations at all, or a zero below would prove nothing.
  allocation_counter::start();
  void* volatile probe = std::malloc(16);
  std::free(probe);
  ASSERT_GE(allocation_counter::stop(), 1u);

  auto buffer = std::make_unique<FixedBuffer>();
  Encoder encoder;
  allocation_counter::start();
  dozidicrashjson_beginEncode(&encoder, true, appendToFixed, buffer.get());
  int result = dozidicrashjson_beginObject(&encoder, nullptr);
  result = result ? result : dozidicrashjson_beginArray(&encoder, "elements");
  for (int i = 0; i < 10'000 && result == DozidiCrashJSON_OK; ++i) {
    switch (i % 5) {
      case 0: result = dozidicrashjson_addIntegerElement(&encoder, nullptr, i * 1'000'003LL); break;
      case 1: result = dozidicrashjson_addFloatingPointElement(&encoder, nullptr, i / 7.0); break;
      case 2: result = dozidicrashjson_addStringElement(&encoder, nullptr, "thread\x0Bname \"x\"", -1); break;
      case 3: result = dozidicrashjson_addDataElement(&encoder, nullptr, "\x12\x34", 2); break;
      default:
        result = dozidicrashjson_beginObject(&encoder, nullptr);
        if (result == DozidiCrashJSON_OK) result = dozidicrashjson_addBooleanElement(&encoder, "ok", true);
        if (result == DozidiCrashJSON_OK) result = dozidicrashjson_endContainer(&encoder);
    }
  }
  if (result == DozidiCrashJSON_OK) result = dozidicrashjson_endEncode(&encoder);
  const std::size_t allocations = allocation_counter::stop();
  EXPECT_EQ(result, DozidiCrashJSON_OK);
  EXPECT_EQ(allocations, 0u);
  Value decoded = DozidiCrashJSONCodec::decode(std::string_view(buffer->bytes, buffer->length), 0);
  EXPECT_EQ(decoded["elements"].array() ? decoded["elements"].array()->size() : 0u, 10'000u);

  // Re-emitting JSON text (the scope and user texts of a report) decodes during a crash as well.
  const std::string json = R"({"a":[1.5e3,-2,"x\u00e9\ud83d\ude00",true,null,{"b":"\n"}],"c":123456789012})";
  buffer->length = 0;
  allocation_counter::start();
  dozidicrashjson_beginEncode(&encoder, false, appendToFixed, buffer.get());
  dozidicrashjson_beginArray(&encoder, nullptr);
  result = dozidicrashjson_addJSONElement(&encoder, nullptr, json.data(), static_cast<int>(json.size()), true);
  dozidicrashjson_endEncode(&encoder);
  EXPECT_EQ(allocation_counter::stop(), 0u);
  EXPECT_EQ(result, DozidiCrashJSON_OK);
  EXPECT_EQ(std::string(buffer->bytes, buffer->length),
            "[{\"a\":[1500,-2,\"x\xC3\xA9\xF0\x9F\x98\x80\",true,null,{\"b\":\"\\n\"}],\"c\":123456789012}]");
}

// Decoder -----------------------------------------------------------------------------------

/// Records every callback as a compact trace: "{k:i1,s:x}" style.
struct Trace {
  std::string text;
  void add(const char* name, const std::string& item) {
    if (name != nullptr) text += std::string(name) + ":";
    text += item + " ";
  }
};
Trace& traceOf(void* userData) { return *static_cast<Trace*>(userData); }

const DozidiCrashJSONDecodeCallbacks kTraceCallbacks = {
    [](const char* name, bool value, void* u) { traceOf(u).add(name, value ? "T" : "F"); return 0; },
    [](const char* name, double value, void* u) {
      char text[40];
      std::snprintf(text, sizeof text, "d%g", value);
      traceOf(u).add(name, text);
      return 0;
    },
    [](const char* name, std::int64_t value, void* u) { traceOf(u).add(name, "i" + std::to_string(value)); return 0; },
    [](const char* name, void* u) { traceOf(u).add(name, "N"); return 0; },
    [](const char* name, const char* value, void* u) { traceOf(u).add(name, "s" + std::string(value)); return 0; },
    [](const char* name, void* u) { traceOf(u).add(name, "{"); return 0; },
    [](const char* name, void* u) { traceOf(u).add(name, "["); return 0; },
    [](void* u) { traceOf(u).add(nullptr, "]"); return 0; },
    [](void* u) { traceOf(u).add(nullptr, "$"); return 0; },
};

struct Decoded {
  int result;
  std::string trace;
};
Decoded decode(const std::string& text, int bufferLength = 400) {
  std::vector<char> buffer(static_cast<std::size_t>(bufferLength));
  Trace trace;
  const int result = dozidicrashjson_decode(text.data(), static_cast<int>(text.size()), buffer.data(), bufferLength,
                                            &kTraceCallbacks, &trace, nullptr);
  return {result, trace.text};
}

TEST(CrashJSONDecoderTests, ErrorTable) {
  const std::string deep200 = std::string(200, '[') + std::string(200, ']');
  const std::string deep201 = std::string(201, '[') + std::string(201, ']');
  const struct {
    const char* name;
    std::string input;
    int expected;
    const char* trace;  // null: not checked
  } cases[] = {
      {"object", R"({"a":1,"b":[true,null,"x"],"c":-2.5e1})", 0, "{ a:i1 b:[ T N sx ] c:d-25 ] $ "},
      {"missing ]", "[1,2", DozidiCrashJSON_ERROR_INCOMPLETE, nullptr},
      {"key without colon", R"({"a" 1})", DozidiCrashJSON_ERROR_INVALID_CHARACTER, nullptr},
      {"missing commas accepted", R"({"a":1 "b":2})", 0, "{ a:i1 b:i2 ] $ "},
      {"trailing comma accepted", "[1,]", 0, "[ i1 ] $ "},
      {"bare number", "12", DozidiCrashJSON_ERROR_INCOMPLETE, nullptr},
      {"number then space", "12 ", 0, "i12 $ "},
      {"integer overflow reads as double", "[9223372036854775808]", 0, "[ d9.22337e+18 ] "},
      {"minus without digit", "[-x]", DozidiCrashJSON_ERROR_INVALID_CHARACTER, nullptr},
      {"surrogate pair", R"(["\ud83d\ude00"])", 0, "[ s\xF0\x9F\x98\x80 ] $ "},
      {"lone low surrogate", R"(["\ude00"])", DozidiCrashJSON_ERROR_INVALID_CHARACTER, nullptr},
      {"high surrogate then other escape", R"(["\ud83d\u0041"])", DozidiCrashJSON_ERROR_INVALID_CHARACTER, nullptr},
      {"high surrogate at end", R"(["\ud83d"])", DozidiCrashJSON_ERROR_INCOMPLETE, nullptr},
      {"short unicode escape", R"(["\u12"])", DozidiCrashJSON_ERROR_INCOMPLETE, nullptr},
      {"non-hex unicode escape", R"(["\u12g4"])", DozidiCrashJSON_ERROR_INVALID_CHARACTER, nullptr},
      {"unknown escape", R"(["\q"])", DozidiCrashJSON_ERROR_INVALID_CHARACTER, nullptr},
      {"escapes", R"(["\"\\\/\b\f\n\r\t\u00e9"])", 0, nullptr},
      {"unterminated string", R"(["abc)", DozidiCrashJSON_ERROR_INCOMPLETE, nullptr},
      {"string longer than buffer", "[\"" + std::string(400, 'x') + "\"]", DozidiCrashJSON_ERROR_DATA_TOO_LONG, nullptr},
      {"short literal", "[nul", DozidiCrashJSON_ERROR_INCOMPLETE, nullptr},
      {"wrong literal", "[nulx]", DozidiCrashJSON_ERROR_INVALID_CHARACTER, nullptr},
      {"stray character", "[1,@]", DozidiCrashJSON_ERROR_INVALID_CHARACTER, nullptr},
      {"empty input", "", DozidiCrashJSON_ERROR_INCOMPLETE, nullptr},
      {"200 levels", deep200, 0, nullptr},
      {"201 levels", deep201, DozidiCrashJSON_ERROR_DATA_TOO_LONG, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Decoded out = decode(c.input);
    EXPECT_EQ(out.result, c.expected) << dozidicrashjson_stringForError(out.result);
    if (c.trace != nullptr) {
      EXPECT_TRUE(out.trace.starts_with(c.trace)) << out.trace;
    }
  }
}

TEST(CrashJSONDecoderTests, ACallbackErrorStopsDecoding) {
  DozidiCrashJSONDecodeCallbacks callbacks = kTraceCallbacks;
  callbacks.onIntegerElement = [](const char*, std::int64_t, void*) { return 5; };
  char buffer[100];
  Trace trace;
  int offset = -1;
  const std::string text = "[true,2,3]";
  EXPECT_EQ(dozidicrashjson_decode(text.data(), static_cast<int>(text.size()), buffer, sizeof buffer, &callbacks,
                                   &trace, &offset),
            DozidiCrashJSON_ERROR_INVALID_DATA);
  EXPECT_EQ(trace.text, "[ T ");
  EXPECT_EQ(offset, 7);
}

// Re-emitting --------------------------------------------------------------------------------

TEST(CrashJSONReemitTests, OuterContainerStaysOpenUnlessAskedToClose) {
  auto open = encode(false, [](Encoder* e) {
    dozidicrashjson_beginObject(e, nullptr);
    const std::string json = R"({"a":{"b":[1,{"c":null}]},"d":"x"})";
    int result = dozidicrashjson_addJSONElement(e, "user", json.data(), static_cast<int>(json.size()), false);
    EXPECT_EQ(e->containerLevel, 2);
    return result ? result : dozidicrashjson_addIntegerElement(e, "added", 2);
  });
  EXPECT_EQ(open.result, DozidiCrashJSON_OK);
  EXPECT_EQ(open.text, R"({"user":{"a":{"b":[1,{"c":null}]},"d":"x","added":2}})");

  auto truncated = encode(false, [](Encoder* e) {
    dozidicrashjson_beginObject(e, nullptr);
    const std::string json = R"({"a":[1,2 )";
    EXPECT_EQ(dozidicrashjson_addJSONElement(e, "user", json.data(), static_cast<int>(json.size()), true),
              DozidiCrashJSON_ERROR_INCOMPLETE);
    EXPECT_EQ(e->containerLevel, 1);
    return dozidicrashjson_addIntegerElement(e, "after", 3);
  });
  EXPECT_EQ(truncated.text, R"({"user":{"a":[1,2]},"after":3})");
}

TEST(CrashJSONReemitTests, FromFileLargerThanTheReadBuffer) {
  const auto path = std::filesystem::temp_directory_path() / ("crash-json-" + std::to_string(::getpid()) + ".json");
  std::string json = "{\"list\":[";
  for (int i = 0; i < 400; ++i) json += (i ? "," : "") + std::string("\"item ") + std::to_string(i) + "\"";
  json += "],\"n\":-1.5}";
  std::ofstream(path) << json;
  auto out = encode(false, [&](Encoder* e) {
    dozidicrashjson_beginArray(e, nullptr);
    return dozidicrashjson_addJSONFromFile(e, nullptr, path.c_str(), true);
  });
  std::filesystem::remove(path);
  EXPECT_EQ(out.result, DozidiCrashJSON_OK);
  EXPECT_EQ(out.text, "[" + json + "]");

  auto missing = encode(false, [](Encoder* e) {
    dozidicrashjson_beginArray(e, nullptr);
    return dozidicrashjson_addJSONFromFile(e, nullptr, "/nonexistent/crash.json", true);
  });
  EXPECT_EQ(missing.result, DozidiCrashJSON_ERROR_INCOMPLETE);
  EXPECT_EQ(missing.text, "[]");
}

// Object codec ---------------------------------------------------------------------------------

TEST(CrashJSONCodecTests, RoundTripsEveryKind) {
  const Value value = Dictionary{{"s", "text"},      {"i", -3},     {"d", 2.5},  {"b", true},
                                 {"n", nullptr},     {"a", Array{1, "x"}},       {"o", Dictionary{{"k", false}}}};
  auto text = DozidiCrashJSONCodec::encode(value, 0);
  ASSERT_TRUE(text);
  EXPECT_EQ(*text, R"({"s":"text","i":-3,"d":2.5,"b":true,"n":null,"a":[1,"x"],"o":{"k":false}})");
  Value back = DozidiCrashJSONCodec::decode(*text, 0);
  EXPECT_EQ(back, value);
  EXPECT_TRUE(back["b"].isBool());

  auto sorted = DozidiCrashJSONCodec::encode(Dictionary{{"b", 1}, {"a", 2}}, DozidiCrashJSONCodec::kSorted);
  EXPECT_EQ(sorted, R"({"a":2,"b":1})");
  auto dated = DozidiCrashJSONCodec::encode(
      Array{foundation::Date::fromTimeIntervalSince1970(86'400.9), foundation::Data("\x0f", 1)}, 0);
  EXPECT_EQ(dated, R"(["1970-01-02T00:00:00Z","0F"])");
}

TEST(CrashJSONCodecTests, DecodeOptionsAndErrors) {
  EXPECT_EQ(DozidiCrashJSONCodec::decode("[null,1]", DozidiCrashJSONCodec::kIgnoreNullsInArrays), (Array{1}));
  EXPECT_EQ(DozidiCrashJSONCodec::decode(R"({"a":null,"b":[null]})", DozidiCrashJSONCodec::kIgnoreNullsInObjects),
            (Dictionary{{"b", Array{nullptr}}}));

  foundation::Error error("", 0);
  EXPECT_TRUE(DozidiCrashJSONCodec::decode(R"({"a":[1,{"b":2)", 0, &error).isAbsent());
  EXPECT_EQ(error.domain(), "DozidiCrashJSONCodecObjC");
  EXPECT_EQ(DozidiCrashJSONCodec::decode(R"({"a":[1,{"b":2})", DozidiCrashJSONCodec::kKeepPartialResult),
            (Dictionary{{"a", Array{1, Dictionary{{"b", 2}}}}}));

  EXPECT_TRUE(DozidiCrashJSONCodec::decode("\"text\" ", 0, &error).isAbsent());
  EXPECT_NE(error.localizedDescription().find("not allowed as top level container"), std::string::npos);

  EXPECT_FALSE(DozidiCrashJSONCodec::encode(Array{foundation::Value()}, 0, &error));
  EXPECT_NE(error.localizedDescription().find("Could not determine type"), std::string::npos);
}

}  // namespace
