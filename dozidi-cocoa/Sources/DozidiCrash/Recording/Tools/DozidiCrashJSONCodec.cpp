#include "DozidiCrashJSONCodec.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

#include "DozidiCrashJSON.h"
#include "DozidiSimpleConstructor.h"

using foundation::Array;
using foundation::Dictionary;
using foundation::Error;
using foundation::Value;

namespace {

/// The decoder's string buffer: names get a quarter, string values the rest.
constexpr int kDecodeStringBufferSize = 100'001;

Error codecError(std::string description) {
  return dozidiErrorWithDomain(DozidiCrashJSONCodec::kErrorDomain, 0, std::move(description));
}

const char* kindName(const Value& value) {
  switch (value.kind()) {
    case Value::Kind::Absent: return "absent value";
    case Value::Kind::URL: return "URL";
    case Value::Kind::Error: return "Error";
    case Value::Kind::Opaque: return value.opaque()->typeName.c_str();
    default: return "value";
  }
}

// Encoding ---------------------------------------------------------------------------------

struct Encoder {
  DozidiCrashJSONEncodeContext context;
  std::string output;
  bool sorted;
  std::optional<Error> error;
};

int appendOutput(const char* data, int length, void* userData) {
  static_cast<std::string*>(userData)->append(data, static_cast<std::size_t>(length));
  return DozidiCrashJSON_OK;
}

int encodeValue(Encoder& encoder, const char* name, const Value& value) {
  DozidiCrashJSONEncodeContext* context = &encoder.context;
  if (const std::string* text = value.string()) {
    return dozidicrashjson_addStringElement(context, name, text->data(), static_cast<int>(text->size()));
  }
  if (const foundation::Number* number = value.number()) {
    if (number->isBool()) return dozidicrashjson_addBooleanElement(context, name, number->boolValue());
    if (number->isFloatingPoint()) return dozidicrashjson_addFloatingPointElement(context, name, number->doubleValue());
    return dozidicrashjson_addIntegerElement(context, name, number->int64Value());
  }
  if (const Array* array = value.array()) {
    int result = dozidicrashjson_beginArray(context, name);
    for (const Value& element : *array) {
      if (result != DozidiCrashJSON_OK) break;
      result = encodeValue(encoder, nullptr, element);
    }
    return result != DozidiCrashJSON_OK ? result : dozidicrashjson_endContainer(context);
  }
  if (const Dictionary* dictionary = value.dictionary()) {
    int result = dozidicrashjson_beginObject(context, name);
    std::vector<std::string> keys = dictionary->keys();
    if (encoder.sorted) std::sort(keys.begin(), keys.end());
    for (const std::string& key : keys) {
      if (result != DozidiCrashJSON_OK) break;
      result = encodeValue(encoder, key.c_str(), (*dictionary)[key]);
    }
    return result != DozidiCrashJSON_OK ? result : dozidicrashjson_endContainer(context);
  }
  if (value.isNull()) return dozidicrashjson_addNullElement(context, name);
  if (const foundation::Date* date = value.date()) {
    const auto seconds = static_cast<std::time_t>(date->timeIntervalSince1970());
    std::tm utc{};
    if (::gmtime_r(&seconds, &utc) != nullptr) {
      char text[64];
      std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                    utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
      return dozidicrashjson_addStringElement(context, name, text, -1);
    }
  }
  if (const foundation::Data* data = value.data()) {
    return dozidicrashjson_addDataElement(context, name, reinterpret_cast<const char*>(data->data()),
                                          static_cast<int>(data->size()));
  }
  encoder.error = codecError(std::string("Could not determine type of ") + kindName(value));
  return DozidiCrashJSON_ERROR_INVALID_DATA;
}

// Decoding ---------------------------------------------------------------------------------

struct Frame {
  Value container;
  std::string name;  ///< the key under which it goes into its parent
};

struct Decoder {
  int options;
  std::vector<Frame> stack;
  Value topLevel;
  std::optional<Error> error;
};

Decoder& decoderOf(void* userData) { return *static_cast<Decoder*>(userData); }

void insert(Value& container, const char* name, Value value) {
  if (Dictionary* dictionary = container.mutableDictionary()) {
    dictionary->set(name == nullptr ? std::string() : std::string(name), std::move(value));
  } else if (Array* array = container.mutableArray()) {
    array->push_back(std::move(value));
  }
}

int addElement(Decoder& decoder, const char* name, Value value) {
  if (decoder.stack.empty()) {
    decoder.error = codecError(std::string("Type ") +
                               (value.isNull() ? "null" : value.string() ? "string" : "number") +
                               " not allowed as top level container");
    return DozidiCrashJSON_ERROR_INVALID_DATA;
  }
  insert(decoder.stack.back().container, name, std::move(value));
  return DozidiCrashJSON_OK;
}

int onBoolean(const char* name, bool value, void* userData) { return addElement(decoderOf(userData), name, value); }
int onFloat(const char* name, double value, void* userData) { return addElement(decoderOf(userData), name, value); }
int onInteger(const char* name, std::int64_t value, void* userData) {
  return addElement(decoderOf(userData), name, value);
}
int onString(const char* name, const char* value, void* userData) {
  return addElement(decoderOf(userData), name, Value(value));
}
int onNull(const char* name, void* userData) {
  Decoder& decoder = decoderOf(userData);
  if (!decoder.stack.empty()) {
    const bool inArray = decoder.stack.back().container.array() != nullptr;
    if (inArray && (decoder.options & DozidiCrashJSONCodec::kIgnoreNullsInArrays)) return DozidiCrashJSON_OK;
    if (!inArray && (decoder.options & DozidiCrashJSONCodec::kIgnoreNullsInObjects)) return DozidiCrashJSON_OK;
  }
  return addElement(decoder, name, nullptr);
}
int onBeginObject(const char* name, void* userData) {
  decoderOf(userData).stack.push_back({Dictionary{}, name == nullptr ? "" : name});
  return DozidiCrashJSON_OK;
}
int onBeginArray(const char* name, void* userData) {
  decoderOf(userData).stack.push_back({Array{}, name == nullptr ? "" : name});
  return DozidiCrashJSON_OK;
}
/// Closes the innermost open container into its parent, or makes it the result.
void closeInnermost(Decoder& decoder) {
  Frame frame = std::move(decoder.stack.back());
  decoder.stack.pop_back();
  if (decoder.stack.empty()) {
    decoder.topLevel = std::move(frame.container);
  } else {
    const bool parentIsArray = decoder.stack.back().container.array() != nullptr;
    insert(decoder.stack.back().container, parentIsArray ? nullptr : frame.name.c_str(), std::move(frame.container));
  }
}
int onEndContainer(void* userData) {
  Decoder& decoder = decoderOf(userData);
  if (decoder.stack.empty()) {
    decoder.error = codecError("Already at the top level; no container left to end");
    return DozidiCrashJSON_ERROR_INVALID_DATA;
  }
  closeInnermost(decoder);
  return DozidiCrashJSON_OK;
}
int onEndData(void*) { return DozidiCrashJSON_OK; }

constexpr DozidiCrashJSONDecodeCallbacks kCallbacks = {
    onBoolean, onFloat, onInteger, onNull, onString, onBeginObject, onBeginArray, onEndContainer, onEndData,
};

}  // namespace

std::optional<std::string> DozidiCrashJSONCodec::encode(const Value& object, int options, Error* error) {
  Encoder encoder;
  encoder.sorted = (options & kSorted) != 0;
  dozidicrashjson_beginEncode(&encoder.context, (options & kPrettyPrint) != 0, appendOutput, &encoder.output);
  int result = encodeValue(encoder, nullptr, object);
  if (result == DozidiCrashJSON_OK) result = dozidicrashjson_endEncode(&encoder.context);
  if (result != DozidiCrashJSON_OK) {
    if (!encoder.error) encoder.error = codecError(dozidicrashjson_stringForError(result));
    if (error != nullptr) *error = *encoder.error;
    return std::nullopt;
  }
  return std::move(encoder.output);
}

Value DozidiCrashJSONCodec::decode(std::string_view data, int options, Error* error) {
  if (data.size() > static_cast<std::size_t>(INT32_MAX)) {
    if (error != nullptr) *error = codecError(dozidicrashjson_stringForError(DozidiCrashJSON_ERROR_DATA_TOO_LONG));
    return Value();
  }
  std::vector<char> stringBuffer(kDecodeStringBufferSize);
  Decoder decoder;
  decoder.options = options;
  int offset = 0;
  const int result = dozidicrashjson_decode(data.data(), static_cast<int>(data.size()), stringBuffer.data(),
                                            kDecodeStringBufferSize, &kCallbacks, &decoder, &offset);
  if (result == DozidiCrashJSON_OK) return std::move(decoder.topLevel);
  if (!decoder.error) decoder.error = codecError(std::string(dozidicrashjson_stringForError(result)) + " (offset " +
                                                 std::to_string(offset) + ")");
  if (error != nullptr) *error = *decoder.error;
  if ((options & kKeepPartialResult) == 0) return Value();
  while (!decoder.stack.empty()) closeInnermost(decoder);
  return std::move(decoder.topLevel);
}
