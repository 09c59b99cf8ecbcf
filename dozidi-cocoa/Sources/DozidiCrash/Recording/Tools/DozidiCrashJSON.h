#pragma once
#include <cstdint>

/// The crash recorder's own JSON encoder and decoder. Both keep all state in the caller's context
/// and buffers, allocate nothing and take no lock, so the report writer can use them inside a
/// crash handler. The encoder streams its text through an output callback in small pieces; the
/// decoder reports each element to a table of callbacks.

/// Error codes shared by encoder, decoder and callbacks.
enum DozidiCrashJSONError : int {
  DozidiCrashJSON_OK = 0,
  DozidiCrashJSON_ERROR_INVALID_CHARACTER = 1,
  DozidiCrashJSON_ERROR_DATA_TOO_LONG = 2,
  DozidiCrashJSON_ERROR_CANNOT_ADD_DATA = 3,
  DozidiCrashJSON_ERROR_INCOMPLETE = 4,
  DozidiCrashJSON_ERROR_INVALID_DATA = 5,
};

/// Deepest nesting of containers that the encoder writes and the decoder reads. Deeper input is
/// refused: the encoder with "Cannot add data", the decoder with "Data too long".
constexpr int kDozidiCrashJSONMaxDepth = 200;

/// Runs during a crash: no allocation, no locks.
const char* dozidicrashjson_stringForError(int error);

/// Receives encoded text; returns an error code (non-zero stops the encoder).
using DozidiCrashJSONAddDataFunc = int (*)(const char* data, int length, void* userData);

struct DozidiCrashJSONEncodeContext {
  DozidiCrashJSONAddDataFunc addJSONData;
  void* userData;
  int containerLevel;  ///< 0 at the top level
  bool isObject[kDozidiCrashJSONMaxDepth + 1];  ///< kind of each open container; index 0 is the top
  bool containerFirstEntry;
  bool prettyPrint;
};

// Encoder. Every call runs during a crash: no allocation, no locks. `name` is required inside
// objects and ignored elsewhere. Each returns an error code.
int dozidicrashjson_beginEncode(DozidiCrashJSONEncodeContext* context, bool prettyPrint,
                                DozidiCrashJSONAddDataFunc addJSONData, void* userData);
int dozidicrashjson_endEncode(DozidiCrashJSONEncodeContext* context);
int dozidicrashjson_addBooleanElement(DozidiCrashJSONEncodeContext* context, const char* name, bool value);
int dozidicrashjson_addIntegerElement(DozidiCrashJSONEncodeContext* context, const char* name, std::int64_t value);
/// NaN and the infinities, which JSON cannot hold, are written as null; other values with six
/// significant digits, as "%g" would.
int dozidicrashjson_addFloatingPointElement(DozidiCrashJSONEncodeContext* context, const char* name, double value);
int dozidicrashjson_addNullElement(DozidiCrashJSONEncodeContext* context, const char* name);
/// A null `value` writes null; a `length` of -1 means up to the terminating NUL. Control bytes
/// are escaped, so any byte string gives valid JSON text.
int dozidicrashjson_addStringElement(DozidiCrashJSONEncodeContext* context, const char* name, const char* value,
                                     int length);
int dozidicrashjson_beginStringElement(DozidiCrashJSONEncodeContext* context, const char* name);
int dozidicrashjson_appendStringElement(DozidiCrashJSONEncodeContext* context, const char* value, int length);
int dozidicrashjson_endStringElement(DozidiCrashJSONEncodeContext* context);
/// Bytes as a string of upper-case hexadecimal pairs.
int dozidicrashjson_addDataElement(DozidiCrashJSONEncodeContext* context, const char* name, const char* value,
                                   int length);
int dozidicrashjson_beginDataElement(DozidiCrashJSONEncodeContext* context, const char* name);
int dozidicrashjson_appendDataElement(DozidiCrashJSONEncodeContext* context, const char* value, int length);
int dozidicrashjson_endDataElement(DozidiCrashJSONEncodeContext* context);
int dozidicrashjson_beginObject(DozidiCrashJSONEncodeContext* context, const char* name);
int dozidicrashjson_beginArray(DozidiCrashJSONEncodeContext* context, const char* name);
int dozidicrashjson_endContainer(DozidiCrashJSONEncodeContext* context);
/// Adds, to the container just opened and still empty, elements encoded beforehand: the text an
/// encoder wrote for the first elements of a container at the same depth, with the same
/// pretty-printing, from the first element's own text on (it has no separator). Refused with
/// "Invalid data" when the container has elements already.
int dozidicrashjson_addEncodedElements(DozidiCrashJSONEncodeContext* context, const char* text, int length);

/// Runs during a crash: no allocation, no locks.
/// Re-emits the JSON text `jsonData` into the open encoder; its top-level element gets `name`.
/// Containers inside it are closed as they end; its outermost container is closed only when
/// `closeLastContainer` (so a caller can add members to it). With `closeLastContainer`, the
/// encoder is brought back to its level before the call even when the text was cut short.
int dozidicrashjson_addJSONElement(DozidiCrashJSONEncodeContext* context, const char* name, const char* jsonData,
                                   int length, bool closeLastContainer);
/// Runs during a crash: no allocation, no locks.
/// The same for the contents of a file, read through a 1000-byte stack buffer.
int dozidicrashjson_addJSONFromFile(DozidiCrashJSONEncodeContext* context, const char* name, const char* path,
                                    bool closeLastContainer);

/// Decoder callbacks; each returns an error code (non-zero stops decoding). `name` is null for
/// array elements and the top-level element.
struct DozidiCrashJSONDecodeCallbacks {
  int (*onBooleanElement)(const char* name, bool value, void* userData);
  int (*onFloatingPointElement)(const char* name, double value, void* userData);
  int (*onIntegerElement)(const char* name, std::int64_t value, void* userData);
  int (*onNullElement)(const char* name, void* userData);
  int (*onStringElement)(const char* name, const char* value, void* userData);
  int (*onBeginObject)(const char* name, void* userData);
  int (*onBeginArray)(const char* name, void* userData);
  int (*onEndContainer)(void* userData);
  int (*onEndData)(void* userData);
};

/// Runs during a crash: no allocation, no locks.
/// Decodes one top-level element of `data`, then calls `onEndData`. `stringBuffer` is split: its
/// first quarter holds element names, the rest string values and number texts. Missing commas
/// and trailing commas are accepted; a bare top-level number is incomplete. `errorOffset`, when
/// given, receives the offset at which decoding stopped.
int dozidicrashjson_decode(const char* data, int length, char* stringBuffer, int stringBufferLength,
                           const DozidiCrashJSONDecodeCallbacks* callbacks, void* userData, int* errorOffset);
