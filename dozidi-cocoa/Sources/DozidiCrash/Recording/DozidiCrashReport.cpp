#include "dozidi-cocoa/Sources/DozidiCrash/Recording/DozidiCrashReport.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>

#include "dozidi-cocoa/Sources/DozidiCrash/Recording/DozidiCrashCachedData.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/DozidiCrashReportStore.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/DozidiCrashScopeMirror.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Monitors/DozidiCrashMonitor.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Monitors/DozidiCrashMonitor_Zombie.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashCPU.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashDynamicLinker.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashFileUtils.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashFormat.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashJSON.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashLogger.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashMach.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashMachineContext.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashMemory.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashObjC.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashSignalInfo.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashStackCursor.h"
#include "platform/foundation/SystemCalls.h"

namespace {

constexpr const char* kReportVersion = "3.2.0";
// On the signal stack: large enough that a report goes out in a few dozen writes, small enough
// for an alternate stack the app set up itself.
constexpr int kWriteBufferSize = 4096;
// The standard report's buffer: large enough that each of the two parts of a report of 20 threads
// (about 40 KB before the threads, mostly the images, and 35 KB from them on) goes out in one
// write. Static, because the signal stack is small, and touched at install. One writer
// holds it at a time; a report written meanwhile (the recrash report of a fault inside this one,
// a user-reported snapshot on another thread) uses a stack buffer.
constexpr int kSectionBufferSize = 64 * 1024;
alignas(4096) char g_sectionBuffer[kSectionBufferSize];
std::atomic<bool> g_sectionBufferTaken{false};
// An unnamed file in the reports folder that the first standard report names and fills; -1
// when there is none (taken, or the file system has no unnamed files). A child forked from the
// process that made it shares the file, so only that process uses it.
std::atomic<int> g_preparedReportFile{-1};
std::atomic<pid_t> g_preparedReportFileOwner{0};

// The elements of "binary_images" as a report writes them (most of the report's first part),
// made at normal time from one visit of the images and kept with that visit's token: a crash
// copies the text while the images are still those, and writes them one by one otherwise.
// Published whole and never freed, as a crash may be reading it; a new one is made only when
// the kept image list changes.
struct PreparedImages {
  std::uintptr_t token;
  const char* text;
  int length;
};
std::atomic<const PreparedImages*> g_preparedImages{nullptr};

int takePreparedReportFile() {
  if (g_preparedReportFileOwner.load() != getpid()) return -1;
  return g_preparedReportFile.exchange(-1);
}
constexpr int kDefaultMemorySearchDepth = 15;
constexpr int kMaxThreadBacktraceFrames = 150;
constexpr int kStackContentsPushedDistance = 20;  // words above the stack pointer (into the live stack)
constexpr int kStackContentsPoppedDistance = 10;  // words below it (in the growth direction)
constexpr int kStackContentsTotalDistance = kStackContentsPushedDistance + kStackContentsPoppedDistance;
constexpr int kStringProbeSize = 500;
constexpr int kStringContentsSize = 200;
constexpr int kMaxIvarsWritten = 10;

// ----------------------------------------------------------------------------------------------
// Settings

std::mutex g_userInfoMutex;
std::atomic<char*> g_userInfoJSON{nullptr};
std::atomic<bool> g_introspectionEnabled{false};

struct DoNotIntrospectList {
  char** names;
  int count;
};
std::atomic<DoNotIntrospectList*> g_doNotIntrospect{nullptr};
std::atomic<DozidiCrashReportWriteCallback> g_userSectionWriteCallback{nullptr};

// ----------------------------------------------------------------------------------------------
// Writer operations over the encoder

DozidiCrashJSONEncodeContext* jsonContext(const DozidiCrashReportWriter* writer) {
  return static_cast<DozidiCrashJSONEncodeContext*>(writer->context);
}

void addBooleanElement(const DozidiCrashReportWriter* writer, const char* key, bool value) {
  dozidicrashjson_addBooleanElement(jsonContext(writer), key, value);
}
void addFloatingPointElement(const DozidiCrashReportWriter* writer, const char* key, double value) {
  dozidicrashjson_addFloatingPointElement(jsonContext(writer), key, value);
}
void addIntegerElement(const DozidiCrashReportWriter* writer, const char* key, std::int64_t value) {
  dozidicrashjson_addIntegerElement(jsonContext(writer), key, value);
}
void addUIntegerElement(const DozidiCrashReportWriter* writer, const char* key, std::uint64_t value) {
  dozidicrashjson_addIntegerElement(jsonContext(writer), key, static_cast<std::int64_t>(value));
}
void addStringElement(const DozidiCrashReportWriter* writer, const char* key, const char* value) {
  dozidicrashjson_addStringElement(jsonContext(writer), key, value, -1);
}

void addTextFileElement(const DozidiCrashReportWriter* writer, const char* key, const char* filePath) {
  const int fd = open(filePath, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    DOZIDICRASHLOG_ERROR("Could not open file %s: %s", filePath, dozidicrashfmt_errorText(errno));
    return;
  }
  if (dozidicrashjson_beginStringElement(jsonContext(writer), key) != DozidiCrashJSON_OK) {
    DOZIDICRASHLOG_ERROR("Could not start string element");
  } else {
    char buffer[512];
    for (;;) {
      const ssize_t bytesRead = foundation::retryOnInterrupt([&] { return ::read(fd, buffer, sizeof(buffer)); });
      if (bytesRead <= 0) break;
      if (dozidicrashjson_appendStringElement(jsonContext(writer), buffer, static_cast<int>(bytesRead)) !=
          DozidiCrashJSON_OK) {
        DOZIDICRASHLOG_ERROR("Could not append string element");
        break;
      }
    }
  }
  dozidicrashjson_endStringElement(jsonContext(writer));
  close(fd);
}

void addTextFileLinesElement(const DozidiCrashReportWriter* writer, const char* key, const char* filePath) {
  char readBuffer[1024];
  DozidiCrashBufferedReader reader;
  if (!dozidicrashfu_openBufferedReader(&reader, filePath, readBuffer, sizeof(readBuffer))) return;
  char buffer[1024];
  dozidicrashjson_beginArray(jsonContext(writer), key);
  for (;;) {
    int length = sizeof(buffer);
    dozidicrashfu_readBufferedReaderUntilChar(&reader, '\n', buffer, &length);
    if (length <= 0) break;
    buffer[length - 1] = '\0';
    dozidicrashjson_addStringElement(jsonContext(writer), nullptr, buffer, -1);
  }
  dozidicrashjson_endContainer(jsonContext(writer));
  dozidicrashfu_closeBufferedReader(&reader);
}

void addJSONFileElement(const DozidiCrashReportWriter* writer, const char* key, const char* filePath,
                        bool closeLastContainer) {
  auto* context = jsonContext(writer);
  const int levelBefore = context->containerLevel;
  const int result = dozidicrashjson_addJSONFromFile(context, key, filePath, closeLastContainer);
  if (result != DozidiCrashJSON_OK) {
    // The embedded text was cut short: close what it opened so the rest of the report stays valid.
    while (context->containerLevel > levelBefore) dozidicrashjson_endContainer(context);
    DOZIDICRASHLOG_ERROR("Error while adding JSON file %s: %s", filePath, dozidicrashjson_stringForError(result));
  }
}

void addDataElement(const DozidiCrashReportWriter* writer, const char* key, const char* value, int length) {
  dozidicrashjson_addDataElement(jsonContext(writer), key, value, length);
}
void beginDataElement(const DozidiCrashReportWriter* writer, const char* key) {
  dozidicrashjson_beginDataElement(jsonContext(writer), key);
}
void appendDataElement(const DozidiCrashReportWriter* writer, const char* value, int length) {
  dozidicrashjson_appendDataElement(jsonContext(writer), value, length);
}
void endDataElement(const DozidiCrashReportWriter* writer) { dozidicrashjson_endDataElement(jsonContext(writer)); }

void addUUIDElement(const DozidiCrashReportWriter* writer, const char* key, const unsigned char* value) {
  if (value == nullptr) {
    dozidicrashjson_addNullElement(jsonContext(writer), key);
    return;
  }
  char uuidBuffer[37];
  dozidicrashdl_uuidToString(value, uuidBuffer);
  dozidicrashjson_addStringElement(jsonContext(writer), key, uuidBuffer, 36);
}

// Re-emits a JSON text under `key`. With closeLastContainer false its outermost container stays
// open for further keys. A text that does not decode is written as an object holding "error" and
// "json_data"; that object is the one left open when the caller expects one, so the caller's keys
// still land inside it and the document stays valid JSON.
void addJSONElement(const DozidiCrashReportWriter* writer, const char* key, const char* jsonElement,
                    bool closeLastContainer) {
  auto* context = jsonContext(writer);
  const int levelBefore = context->containerLevel;
  const int jsonResult = dozidicrashjson_addJSONElement(context, key, jsonElement,
                                                        static_cast<int>(std::strlen(jsonElement)), closeLastContainer);
  if (jsonResult == DozidiCrashJSON_OK) return;
  // Keep the element's own object when the text got that far, so the key is not written twice.
  const bool elementObjectOpen = context->containerLevel > levelBefore && context->isObject[levelBefore + 1];
  const int keepLevel = elementObjectOpen ? levelBefore + 1 : levelBefore;
  while (context->containerLevel > keepLevel) dozidicrashjson_endContainer(context);
  if (!elementObjectOpen) dozidicrashjson_beginObject(context, key);
  char errorBuff[100];
  dozidicrashfmt_format(errorBuff, sizeof(errorBuff), "Invalid JSON data: %s", dozidicrashjson_stringForError(jsonResult));
  dozidicrashjson_addStringElement(context, "error", errorBuff, -1);
  dozidicrashjson_addStringElement(context, "json_data", jsonElement, -1);
  if (closeLastContainer) dozidicrashjson_endContainer(context);
}

void beginObject(const DozidiCrashReportWriter* writer, const char* key) {
  dozidicrashjson_beginObject(jsonContext(writer), key);
}
void beginArray(const DozidiCrashReportWriter* writer, const char* key) {
  dozidicrashjson_beginArray(jsonContext(writer), key);
}
void endContainer(const DozidiCrashReportWriter* writer) { dozidicrashjson_endContainer(jsonContext(writer)); }

int addJSONData(const char* data, int length, void* userData) {
  auto* bufferedWriter = static_cast<DozidiCrashBufferedWriter*>(userData);
  return dozidicrashfu_writeBufferedWriter(bufferedWriter, data, length) ? DozidiCrashJSON_OK
                                                                         : DozidiCrashJSON_ERROR_CANNOT_ADD_DATA;
}

void prepareReportWriter(DozidiCrashReportWriter* writer, DozidiCrashJSONEncodeContext* context) {
  writer->addBooleanElement = addBooleanElement;
  writer->addFloatingPointElement = addFloatingPointElement;
  writer->addIntegerElement = addIntegerElement;
  writer->addUIntegerElement = addUIntegerElement;
  writer->addStringElement = addStringElement;
  writer->addTextFileElement = addTextFileElement;
  writer->addTextFileLinesElement = addTextFileLinesElement;
  writer->addJSONFileElement = addJSONFileElement;
  writer->addDataElement = addDataElement;
  writer->beginDataElement = beginDataElement;
  writer->appendDataElement = appendDataElement;
  writer->endDataElement = endDataElement;
  writer->addUUIDElement = addUUIDElement;
  writer->addJSONElement = addJSONElement;
  writer->beginObject = beginObject;
  writer->beginArray = beginArray;
  writer->endContainer = endContainer;
  writer->context = context;
}

// ----------------------------------------------------------------------------------------------
// Memory contents

bool isValidString(std::uint64_t address, char* buffer) {
  if (address == 0 || address > UINTPTR_MAX - kStringProbeSize) return false;
  if (!dozidicrashmem_copySafely(reinterpret_cast<const void*>(address), buffer, kStringProbeSize)) return false;
  return dozidicrashstring_isNullTerminatedUTF8String(buffer, 4, kStringProbeSize);
}

bool isRestrictedClass(const char* name) {
  const DoNotIntrospectList* list = g_doNotIntrospect.load();
  if (list == nullptr || name == nullptr) return false;
  for (int i = 0; i < list->count; ++i) {
    if (std::strcmp(name, list->names[i]) == 0) return true;
  }
  return false;
}

bool isNotableAddress(std::uint64_t address) {
  if (address == 0) return false;
  if (dozidicrashobjc_isTaggedPointer(reinterpret_cast<const void*>(address)) &&
      !dozidicrashobjc_isValidTaggedPointer(reinterpret_cast<const void*>(address))) {
    return false;
  }
  if (dozidicrashzombie_className(reinterpret_cast<const void*>(address)) != nullptr) return true;
  if (dozidicrashobjc_objectType(reinterpret_cast<const void*>(address)) != DozidiCrashObjCTypeUnknown) return true;
  char buffer[kStringProbeSize];
  return isValidString(address, buffer);
}

void writeMemoryContents(const DozidiCrashReportWriter* writer, const char* key, std::uint64_t address, int* limit);

void writeUnknownObjectContents(const DozidiCrashReportWriter* writer, const char* key, std::uint64_t address,
                                int* limit) {
  (*limit)--;
  const void* object = reinterpret_cast<const void*>(address);
  writer->beginObject(writer, key);
  if (dozidicrashobjc_isTaggedPointer(object)) {
    writer->addUIntegerElement(writer, "tagged_payload", dozidicrashobjc_taggedPointerPayload(object));
  } else {
    DozidiCrashObjCIvar ivars[kMaxIvarsWritten];
    const int ivarCount = dozidicrashobjc_ivarList(dozidicrashobjc_isaPointer(object), ivars, kMaxIvarsWritten);
    *limit -= ivarCount;
    for (int i = 0; i < ivarCount; ++i) {
      const DozidiCrashObjCIvar& ivar = ivars[i];
      std::uint64_t value = 0;
      if (!dozidicrashobjc_ivarValue(object, ivar.index, &value)) continue;
      switch (ivar.type[0]) {
        case 'c': case 'i': case 's': case 'l': case 'q':
          writer->addIntegerElement(writer, ivar.name, static_cast<std::int64_t>(value));
          break;
        case 'C': case 'I': case 'S': case 'L': case 'Q':
          writer->addUIntegerElement(writer, ivar.name, value);
          break;
        case 'f': {
          float floatValue;
          const auto bits = static_cast<std::uint32_t>(value);
          std::memcpy(&floatValue, &bits, sizeof(floatValue));
          writer->addFloatingPointElement(writer, ivar.name, floatValue);
          break;
        }
        case 'd': {
          double doubleValue;
          std::memcpy(&doubleValue, &value, sizeof(doubleValue));
          writer->addFloatingPointElement(writer, ivar.name, doubleValue);
          break;
        }
        case 'B': writer->addBooleanElement(writer, ivar.name, value != 0); break;
        case '@': case '#': case ':': case '*':
          writeMemoryContents(writer, ivar.name, value, limit);
          break;
        default: break;
      }
    }
  }
  writer->endContainer(writer);
}

void writeObjectContents(const DozidiCrashReportWriter* writer, std::uint64_t address, int* limit) {
  const void* object = reinterpret_cast<const void*>(address);
  char buffer[kStringContentsSize];
  switch (dozidicrashobjc_objectClassType(object)) {
    case DozidiCrashObjCClassTypeString:
      if (dozidicrashobjc_copyStringContents(object, buffer, sizeof(buffer)) >= 0) {
        writer->addStringElement(writer, "value", buffer);
      }
      break;
    case DozidiCrashObjCClassTypeDate:
      writer->addFloatingPointElement(writer, "value", dozidicrashobjc_dateContents(object));
      break;
    case DozidiCrashObjCClassTypeNumber:
      writer->addFloatingPointElement(writer, "value", dozidicrashobjc_numberAsFloat(object));
      break;
    case DozidiCrashObjCClassTypeArray:
      if (*limit >= 1) {
        const void* first = nullptr;
        if (dozidicrashobjc_arrayContents(object, &first, 1) == 1) {
          writeMemoryContents(writer, "first_object", reinterpret_cast<std::uintptr_t>(first), limit);
        }
      }
      break;
    default:
      if (*limit >= 1) writeUnknownObjectContents(writer, "ivars", address, limit);
      break;
  }
}

void writeMemoryContents(const DozidiCrashReportWriter* writer, const char* key, std::uint64_t address, int* limit) {
  (*limit)--;
  const void* object = reinterpret_cast<const void*>(address);
  writer->beginObject(writer, key);
  writer->addUIntegerElement(writer, "address", address);
  if (const char* zombieClassName = dozidicrashzombie_className(object)) {
    writer->addStringElement(writer, "last_deallocated_obj", zombieClassName);
  }
  const DozidiCrashObjCType type = dozidicrashobjc_objectType(object);
  const char* className = type == DozidiCrashObjCTypeUnknown ? nullptr : dozidicrashobjc_objectClassName(object);
  if (type == DozidiCrashObjCTypeBlock) {
    writer->addStringElement(writer, "type", "objc_block");
    writer->addStringElement(writer, "class", className);
  } else if (type == DozidiCrashObjCTypeClass) {
    writer->addStringElement(writer, "type", "objc_class");
    writer->addStringElement(writer, "class", dozidicrashobjc_className(object));
  } else if (type == DozidiCrashObjCTypeObject && !isRestrictedClass(className)) {
    writer->addStringElement(writer, "type", "objc_object");
    writer->addStringElement(writer, "class", className);
    writeObjectContents(writer, address, limit);
  } else {
    char buffer[kStringProbeSize];
    if (address == 0) {
      writer->addStringElement(writer, "type", "null_pointer");
    } else if (isValidString(address, buffer)) {
      writer->addStringElement(writer, "type", "string");
      writer->addStringElement(writer, "value", buffer);
    } else {
      writer->addStringElement(writer, "type", "unknown");
    }
  }
  writer->endContainer(writer);
}

void writeMemoryContentsIfNotable(const DozidiCrashReportWriter* writer, const char* key, std::uint64_t address) {
  if (!isNotableAddress(address)) return;
  int limit = kDefaultMemorySearchDepth;
  writeMemoryContents(writer, key, address, &limit);
}

// The first "0x" followed by hexadecimal digits in `text`, described as "referenced_object".
void writeAddressReferencedByString(const DozidiCrashReportWriter* writer, const char* key, const char* text) {
  if (text == nullptr) return;
  std::uint64_t address = 0;
  if (dozidicrashstring_extractHexValue(text, static_cast<int>(std::strlen(text)), &address)) {
    int limit = kDefaultMemorySearchDepth;
    writeMemoryContents(writer, key, address, &limit);
  }
}

// ----------------------------------------------------------------------------------------------
// Threads

void writeBacktrace(const DozidiCrashReportWriter* writer, const char* key, DozidiCrashStackCursor* stackCursor) {
  writer->beginObject(writer, key);
  writer->beginArray(writer, "contents");
  while (stackCursor->advanceCursor(stackCursor)) {
    writer->beginObject(writer, nullptr);
    if (stackCursor->symbolicate(stackCursor)) {
      if (stackCursor->stackEntry.imageName != nullptr) {
        writer->addStringElement(writer, "object_name", dozidicrashfu_lastPathEntry(stackCursor->stackEntry.imageName));
      }
      writer->addUIntegerElement(writer, "object_addr", stackCursor->stackEntry.imageAddress);
      if (stackCursor->stackEntry.symbolName != nullptr) {
        writer->addStringElement(writer, "symbol_name", stackCursor->stackEntry.symbolName);
      }
      writer->addUIntegerElement(writer, "symbol_addr", stackCursor->stackEntry.symbolAddress);
    }
    writer->addUIntegerElement(writer, "instruction_addr", stackCursor->stackEntry.address);
    writer->endContainer(writer);
  }
  writer->endContainer(writer);
  writer->addIntegerElement(writer, "skipped", 0);
  writer->endContainer(writer);
}

// The register's own name, or "r<index>" made in `buffer` for one without a name. The names
// are used as they stand: every thread of a report writes about twenty of them.
const char* registerName(char* buffer, int size, const char* name, int index) {
  if (name != nullptr) return name;
  dozidicrashfmt_format(buffer, static_cast<std::size_t>(size), "r%d", index);
  return buffer;
}

void writeRegisters(const DozidiCrashReportWriter* writer, const char* key, const DozidiCrashMachineContext* context) {
  char registerNameBuff[30];
  writer->beginObject(writer, key);
  writer->beginObject(writer, "basic");
  for (int i = 0; i < dozidicrashcpu_numRegisters(); ++i) {
    const char* name = registerName(registerNameBuff, sizeof(registerNameBuff), dozidicrashcpu_registerName(i), i);
    writer->addUIntegerElement(writer, name, dozidicrashcpu_registerValue(context, i));
  }
  writer->endContainer(writer);
  if (dozidicrashmc_hasValidExceptionRegisters(context)) {
    writer->beginObject(writer, "exception");
    for (int i = 0; i < dozidicrashcpu_numExceptionRegisters(); ++i) {
      const char* name =
          registerName(registerNameBuff, sizeof(registerNameBuff), dozidicrashcpu_exceptionRegisterName(i), i);
      writer->addUIntegerElement(writer, name, dozidicrashcpu_exceptionRegisterValue(context, i));
    }
    writer->endContainer(writer);
  }
  writer->endContainer(writer);
}

// The stack window around the stack pointer: lower and upper address.
void stackWindow(const DozidiCrashMachineContext* context, std::uint64_t* low, std::uint64_t* high) {
  const std::uint64_t stackPointer = dozidicrashcpu_stackPointer(context);
  const int direction = dozidicrashcpu_stackGrowDirection();
  const std::uint64_t pushed = kStackContentsPushedDistance * sizeof(std::uint64_t);
  const std::uint64_t popped = kStackContentsPoppedDistance * sizeof(std::uint64_t);
  if (direction < 0) {
    *low = stackPointer - popped;
    *high = stackPointer + pushed;
  } else {
    *low = stackPointer - pushed;
    *high = stackPointer + popped;
  }
}

void writeStackContents(const DozidiCrashReportWriter* writer, const char* key,
                        const DozidiCrashMachineContext* context, bool isStackOverflow) {
  const std::uint64_t stackPointer = dozidicrashcpu_stackPointer(context);
  if (stackPointer == 0) return;
  std::uint64_t low = 0, high = 0;
  stackWindow(context, &low, &high);
  writer->beginObject(writer, key);
  writer->addStringElement(writer, "grow_direction", dozidicrashcpu_stackGrowDirection() > 0 ? "+" : "-");
  writer->addUIntegerElement(writer, "dump_start", low);
  writer->addUIntegerElement(writer, "dump_end", high);
  writer->addUIntegerElement(writer, "stack_pointer", stackPointer);
  writer->addBooleanElement(writer, "overflow", isStackOverflow);
  std::uint64_t stackBuffer[kStackContentsTotalDistance];
  const int length = static_cast<int>(high - low);
  if (dozidicrashmem_copySafely(reinterpret_cast<const void*>(low), stackBuffer, length)) {
    writer->addDataElement(writer, "contents", reinterpret_cast<const char*>(stackBuffer), length);
  } else {
    writer->addStringElement(writer, "error", "Stack contents not accessible");
  }
  writer->endContainer(writer);
}

void writeNotableRegisters(const DozidiCrashReportWriter* writer, const DozidiCrashMachineContext* context) {
  char registerNameBuff[30];
  for (int i = 0; i < dozidicrashcpu_numRegisters(); ++i) {
    const char* name = registerName(registerNameBuff, sizeof(registerNameBuff), dozidicrashcpu_registerName(i), i);
    writeMemoryContentsIfNotable(writer, name, dozidicrashcpu_registerValue(context, i));
  }
}

void writeNotableStackContents(const DozidiCrashReportWriter* writer, const DozidiCrashMachineContext* context) {
  if (dozidicrashcpu_stackPointer(context) == 0) return;
  std::uint64_t low = 0, high = 0;
  stackWindow(context, &low, &high);
  char nameBuffer[40];
  for (std::uint64_t address = low; address < high; address += sizeof(std::uint64_t)) {
    std::uint64_t contents = 0;
    if (dozidicrashmem_copySafely(reinterpret_cast<const void*>(address), &contents, sizeof(contents))) {
      dozidicrashfmt_format(nameBuffer, sizeof(nameBuffer), "stack@%p", reinterpret_cast<void*>(address));
      writeMemoryContentsIfNotable(writer, nameBuffer, contents);
    }
  }
}

void writeNotableAddresses(const DozidiCrashReportWriter* writer, const char* key,
                           const DozidiCrashMachineContext* context) {
  writer->beginObject(writer, key);
  writeNotableRegisters(writer, context);
  writeNotableStackContents(writer, context);
  writer->endContainer(writer);
}

void writeThread(const DozidiCrashReportWriter* writer, const char* key, const DozidiCrash_MonitorContext* crash,
                 const DozidiCrashMachineContext* machineContext, int threadIndex, bool shouldWriteNotableAddresses) {
  const bool isCrashedThread = dozidicrashmc_isCrashedContext(machineContext);
  const DozidiCrashThread thread = dozidicrashmc_getThreadFromContext(machineContext);

  DozidiCrashStackCursor stackCursor;
  const bool usesEventCursor = isCrashedThread && crash->stackCursor != nullptr;
  if (usesEventCursor) {
    stackCursor = *crash->stackCursor;
    stackCursor.resetCursor(&stackCursor);
  } else {
    dozidicrashsc_initWithMachineContext(&stackCursor, kMaxThreadBacktraceFrames, machineContext);
  }

  writer->beginObject(writer, key);
  writeBacktrace(writer, "backtrace", &stackCursor);
  if (dozidicrashmc_canHaveCPUState(machineContext)) writeRegisters(writer, "registers", machineContext);
  writer->addIntegerElement(writer, "index", threadIndex);
  if (const char* name = dozidicrashccd_getThreadName(thread)) writer->addStringElement(writer, "name", name);
  if (const char* name = dozidicrashccd_getQueueName(thread)) writer->addStringElement(writer, "dispatch_queue", name);
  writer->addBooleanElement(writer, "crashed", isCrashedThread);
  writer->addBooleanElement(writer, "current_thread", thread == dozidicrashthread_self());
  if (isCrashedThread) {
    writeStackContents(writer, "stack", machineContext, machineContext->isStackOverflow);
    if (shouldWriteNotableAddresses) writeNotableAddresses(writer, "notable_addresses", machineContext);
  }
  writer->endContainer(writer);
  // The event's own cursor keeps its reference; the monitor releases it.
  if (!usesEventCursor) dozidicrash_releaseAsyncCallerInCrash(stackCursor.asyncCaller);
}

void writeAllThreads(const DozidiCrashReportWriter* writer, const char* key, const DozidiCrash_MonitorContext* crash,
                     bool writeNotableAddresses) {
  const DozidiCrashMachineContext* context = crash->offendingMachineContext;
  if (context == nullptr) return;
  const DozidiCrashThread offendingThread = dozidicrashmc_getThreadFromContext(context);
  const int threadCount = dozidicrashmc_getThreadCount(context);
  alignas(16) char machineContextBuffer[sizeof(DozidiCrashMachineContext)];
  auto* threadContext = reinterpret_cast<DozidiCrashMachineContext*>(machineContextBuffer);

  writer->beginArray(writer, key);
  for (int i = 0; i < threadCount; ++i) {
    const DozidiCrashThread thread = dozidicrashmc_getThreadAtIndex(context, i);
    if (thread == offendingThread) {
      writeThread(writer, nullptr, crash, context, i, writeNotableAddresses);
    } else {
      dozidicrashmc_getContextForThread(thread, threadContext, false);
      writeThread(writer, nullptr, crash, threadContext, i, writeNotableAddresses);
    }
  }
  writer->endContainer(writer);
}

int crashedThreadIndex(const DozidiCrash_MonitorContext* crash) {
  const DozidiCrashMachineContext* context = crash->offendingMachineContext;
  return dozidicrashmc_indexOfThread(context, dozidicrashmc_getThreadFromContext(context));
}

// ----------------------------------------------------------------------------------------------
// Sections

void writeError(const DozidiCrashReportWriter* writer, const char* key, const DozidiCrash_MonitorContext* crash) {
  writer->beginObject(writer, key);
  {
    writer->beginObject(writer, "mach");
    const auto machException = static_cast<std::uint32_t>(crash->mach.type);
    const auto machCode = static_cast<std::uint32_t>(crash->mach.code);
    writer->addUIntegerElement(writer, "exception", machException);
    if (const char* name = dozidicrashmach_exceptionName(machException)) {
      writer->addStringElement(writer, "exception_name", name);
    }
    writer->addUIntegerElement(writer, "code", machCode);
    if (const char* name = dozidicrashmach_kernelReturnCodeName(machCode)) {
      writer->addStringElement(writer, "code_name", name);
    }
    writer->addUIntegerElement(writer, "subcode", static_cast<std::uint32_t>(crash->mach.subcode));
    writer->endContainer(writer);
  }
  {
    writer->beginObject(writer, "signal");
    const int sigNum = crash->signal.signum;
    const int sigCode = crash->signal.sigcode;
    writer->addUIntegerElement(writer, "signal", static_cast<std::uint64_t>(static_cast<std::uint32_t>(sigNum)));
    if (const char* name = dozidicrashsignal_signalName(sigNum)) writer->addStringElement(writer, "name", name);
    writer->addUIntegerElement(writer, "code", static_cast<std::uint64_t>(static_cast<std::int64_t>(sigCode)));
    if (const char* name = dozidicrashsignal_signalCodeName(sigNum, sigCode)) {
      writer->addStringElement(writer, "code_name", name);
    }
    writer->endContainer(writer);
  }
  writer->addUIntegerElement(writer, "address", crash->faultAddress);
  if (crash->crashReason != nullptr) writer->addStringElement(writer, "reason", crash->crashReason);

  switch (crash->crashType) {
    case DozidiCrashMonitorTypeMachException: writer->addStringElement(writer, "type", "mach"); break;
    case DozidiCrashMonitorTypeSignal: writer->addStringElement(writer, "type", "signal"); break;
    case DozidiCrashMonitorTypeCPPException:
      writer->addStringElement(writer, "type", "cpp_exception");
      writer->beginObject(writer, "cpp_exception");
      writer->addStringElement(writer, "name", crash->CPPException.name);
      writer->endContainer(writer);
      break;
    case DozidiCrashMonitorTypeNSException:
      writer->addStringElement(writer, "type", "nsexception");
      writer->beginObject(writer, "nsexception");
      writer->addStringElement(writer, "name", crash->NSException.name);
      writer->addStringElement(writer, "userInfo", crash->NSException.userInfo);
      writeAddressReferencedByString(writer, "referenced_object", crash->crashReason);
      writer->endContainer(writer);
      break;
    case DozidiCrashMonitorTypeUserReported:
      writer->addStringElement(writer, "type", "user");
      writer->beginObject(writer, "user_reported");
      writer->addStringElement(writer, "name", crash->userException.name);
      if (crash->userException.language != nullptr) {
        writer->addStringElement(writer, "language", crash->userException.language);
      }
      if (crash->userException.lineOfCode != nullptr) {
        writer->addStringElement(writer, "line_of_code", crash->userException.lineOfCode);
      }
      if (crash->userException.customStackTrace != nullptr) {
        writer->addJSONElement(writer, "backtrace", crash->userException.customStackTrace, true);
      }
      writer->endContainer(writer);
      break;
    case DozidiCrashMonitorTypeSystem:
    case DozidiCrashMonitorTypeApplicationState:
    case DozidiCrashMonitorTypeZombie:
      DOZIDICRASHLOG_ERROR("Crash monitor type 0x%x shouldn't be able to cause events!", crash->crashType);
      break;
    default: break;
  }
  writer->endContainer(writer);
}

void writeReportInfo(const DozidiCrashReportWriter* writer, const char* key, const char* type, const char* reportID,
                     const char* processName) {
  writer->beginObject(writer, key);
  writer->addStringElement(writer, "version", kReportVersion);
  writer->addStringElement(writer, "id", reportID);
  writer->addStringElement(writer, "process_name", processName);
  writer->addIntegerElement(writer, "timestamp", static_cast<std::int64_t>(time(nullptr)));
  writer->addStringElement(writer, "type", type);
  writer->endContainer(writer);
}

void writeBinaryImage(const DozidiCrashBinaryImage* record, void* context) {
  const auto* writer = static_cast<const DozidiCrashReportWriter*>(context);
  const DozidiCrashBinaryImage& image = *record;
  writer->beginObject(writer, nullptr);
  writer->addUIntegerElement(writer, "image_addr", image.address);
  writer->addUIntegerElement(writer, "image_vmaddr", image.vmAddress);
  writer->addUIntegerElement(writer, "image_size", image.size);
  writer->addStringElement(writer, "name", image.name);
  writer->addUUIDElement(writer, "uuid", image.uuid);
  writer->addIntegerElement(writer, "cpu_type", image.cpuType);
  writer->addIntegerElement(writer, "cpu_subtype", image.cpuSubType);
  writer->addUIntegerElement(writer, "major_version", image.majorVersion);
  writer->addUIntegerElement(writer, "minor_version", image.minorVersion);
  writer->addUIntegerElement(writer, "revision_version", image.revisionVersion);
  if (image.crashInfoMessage != nullptr) writer->addStringElement(writer, "crash_info_message", image.crashInfoMessage);
  if (image.crashInfoMessage2 != nullptr) {
    writer->addStringElement(writer, "crash_info_message2", image.crashInfoMessage2);
  }
  writer->endContainer(writer);
}

void writeBinaryImages(const DozidiCrashReportWriter* writer, const char* key) {
  writer->beginArray(writer, key);
  const PreparedImages* prepared = g_preparedImages.load(std::memory_order_acquire);
  if (prepared != nullptr && prepared->token == dozidicrashdl_imageListToken()) {
    dozidicrashjson_addEncodedElements(jsonContext(writer), prepared->text, prepared->length);
  } else {
    // One pass over the loader's list, rather than a walk from its head for each index.
    dozidicrashdl_forEachBinaryImage(writeBinaryImage, const_cast<DozidiCrashReportWriter*>(writer));
  }
  writer->endContainer(writer);
}

// Where the images' text goes at normal time: a first visit only counts its bytes (no buffer),
// a second copies them into a buffer of that size.
struct ImagesText {
  char* bytes;
  std::size_t length;
  std::size_t capacity;
};

int addToImagesText(const char* data, int length, void* userData) {
  auto* text = static_cast<ImagesText*>(userData);
  const auto count = static_cast<std::size_t>(length);
  if (text->bytes != nullptr) {
    if (count > text->capacity - text->length) return DozidiCrashJSON_ERROR_CANNOT_ADD_DATA;
    std::memcpy(text->bytes + text->length, data, count);
  }
  text->length += count;
  return DozidiCrashJSON_OK;
}

// Encodes the elements of "binary_images" for the images a visit gives now into `text`, at the
// depth the report writes them (in the array, inside the report's object; what opens them goes
// nowhere). Returns the visit's token, 0 when its images cannot be told again.
std::uintptr_t encodeBinaryImages(ImagesText* text) {
  DozidiCrashJSONEncodeContext context;
  DozidiCrashReportWriter writer;
  prepareReportWriter(&writer, &context);
  ImagesText opening{nullptr, 0, 0};
  dozidicrashjson_beginEncode(&context, true, addToImagesText, &opening);
  writer.beginObject(&writer, nullptr);
  writer.beginArray(&writer, "binary_images");
  context.userData = text;
  return dozidicrashdl_forEachBinaryImage(writeBinaryImage, &writer);
}

void writeProcessState(const DozidiCrashReportWriter* writer, const char* key, const DozidiCrash_MonitorContext* crash) {
  writer->beginObject(writer, key);
  if (crash->ZombieException.address != 0) {
    writer->beginObject(writer, "last_dealloced_nsexception");
    writer->addUIntegerElement(writer, "address", crash->ZombieException.address);
    writer->addStringElement(writer, "name", crash->ZombieException.name);
    writer->addStringElement(writer, "reason", crash->ZombieException.reason);
    writeAddressReferencedByString(writer, "referenced_object", crash->ZombieException.reason);
    writer->endContainer(writer);
  }
  writer->endContainer(writer);
}

void writeSystemInfo(const DozidiCrashReportWriter* writer, const char* key, const DozidiCrash_MonitorContext* crash) {
  const auto& s = crash->System;
  writer->beginObject(writer, key);
  writer->addStringElement(writer, "system_name", s.systemName);
  writer->addStringElement(writer, "system_version", s.systemVersion);
  writer->addStringElement(writer, "machine", s.machine);
  writer->addStringElement(writer, "model", s.model);
  writer->addStringElement(writer, "kernel_version", s.kernelVersion);
  writer->addStringElement(writer, "os_version", s.osVersion);
  writer->addBooleanElement(writer, "jailbroken", s.isJailbroken);
  writer->addStringElement(writer, "boot_time", s.bootTime);
  writer->addStringElement(writer, "app_start_time", s.appStartTime);
  writer->addStringElement(writer, "CFBundleExecutablePath", s.executablePath);
  writer->addStringElement(writer, "CFBundleExecutable", s.executableName);
  writer->addStringElement(writer, "CFBundleIdentifier", s.bundleID);
  writer->addStringElement(writer, "CFBundleName", s.bundleName);
  writer->addStringElement(writer, "CFBundleVersion", s.bundleVersion);
  writer->addStringElement(writer, "CFBundleShortVersionString", s.bundleShortVersion);
  writer->addStringElement(writer, "app_uuid", s.appID);
  writer->addStringElement(writer, "cpu_arch", s.cpuArchitecture);
  writer->addIntegerElement(writer, "cpu_type", s.cpuType);
  writer->addIntegerElement(writer, "cpu_subtype", s.cpuSubType);
  writer->addIntegerElement(writer, "binary_cpu_type", s.binaryCPUType);
  writer->addIntegerElement(writer, "binary_cpu_subtype", s.binaryCPUSubType);
  writer->addStringElement(writer, "process_name", s.processName);
  writer->addIntegerElement(writer, "process_id", s.processID);
  writer->addIntegerElement(writer, "parent_process_id", s.parentProcessID);
  writer->addStringElement(writer, "device_app_hash", s.deviceAppHash);
  writer->addStringElement(writer, "build_type", s.buildType);
  writer->addIntegerElement(writer, "total_storage", static_cast<std::int64_t>(s.storageSize));
  writer->addIntegerElement(writer, "free_storage", static_cast<std::int64_t>(s.freeStorageSize));

  writer->beginObject(writer, "memory");
  writer->addUIntegerElement(writer, "size", s.memorySize);
  writer->addUIntegerElement(writer, "usable", s.usableMemory);
  writer->addUIntegerElement(writer, "free", s.freeMemory);
  writer->endContainer(writer);

  const auto& a = crash->AppState;
  writer->beginObject(writer, "application_stats");
  writer->addBooleanElement(writer, "application_active", a.applicationIsActive);
  writer->addBooleanElement(writer, "application_in_foreground", a.applicationIsInForeground);
  writer->addIntegerElement(writer, "launches_since_last_crash", a.launchesSinceLastCrash);
  writer->addIntegerElement(writer, "sessions_since_last_crash", a.sessionsSinceLastCrash);
  writer->addFloatingPointElement(writer, "active_time_since_last_crash", a.activeDurationSinceLastCrash);
  writer->addFloatingPointElement(writer, "background_time_since_last_crash", a.backgroundDurationSinceLastCrash);
  writer->addIntegerElement(writer, "sessions_since_launch", a.sessionsSinceLaunch);
  writer->addFloatingPointElement(writer, "active_time_since_launch", a.activeDurationSinceLaunch);
  writer->addFloatingPointElement(writer, "background_time_since_launch", a.backgroundDurationSinceLaunch);
  writer->endContainer(writer);

  writer->endContainer(writer);
}

void writeScope(const DozidiCrashReportWriter* writer, const char* key) {
  const CrashScopeMirror* scope = crashscopemirror_get();
  writer->beginObject(writer, key);
  struct Member {
    const char* key;
    const std::atomic<char*>* text;
  };
  const Member members[] = {
      {"user", &scope->user},         {"dist", &scope->dist},   {"context", &scope->context},
      {"environment", &scope->environment}, {"tags", &scope->tags}, {"extra", &scope->extras},
      {"fingerprint", &scope->fingerprint}, {"level", &scope->level},
  };
  // Each member is a complete JSON value of its own, closed where it ends.
  for (const Member& member : members) {
    if (const char* text = member.text->load()) writer->addJSONElement(writer, member.key, text, true);
  }
  constexpr int kMaxCrumbs = 1024;
  const char* crumbs[kMaxCrumbs];
  const int crumbCount = crashscopemirror_getBreadcrumbs(crumbs, kMaxCrumbs);
  if (crumbCount > 0) {
    writer->beginArray(writer, "breadcrumbs");
    for (int i = 0; i < crumbCount; ++i) writer->addJSONElement(writer, "crumb", crumbs[i], true);
    writer->endContainer(writer);
  }
  writer->endContainer(writer);
}

void writeUserSection(const DozidiCrashReportWriter* writer, const char* key, const DozidiCrash_MonitorContext* crash,
                      DozidiCrashBufferedWriter* bufferedWriter) {
  // Read without the setter's lock: in a crash the setter's thread is stopped.
  if (const char* userInfoJSON = g_userInfoJSON.load()) {
    writer->addJSONElement(writer, key, userInfoJSON, false);
  } else {
    writer->beginObject(writer, key);
  }
  // The app's own code may fault: what was written so far goes to the file first.
  DozidiCrashReportWriteCallback callback = g_userSectionWriteCallback.load();
  if (callback != nullptr && !crash->currentSnapshotUserReported) {
    dozidicrashfu_flushBufferedWriter(bufferedWriter);
    callback(writer);
  }
  writer->endContainer(writer);
}

void writeDebugInfo(const DozidiCrashReportWriter* writer, const char* key, const DozidiCrash_MonitorContext* crash) {
  writer->beginObject(writer, key);
  if (crash->consoleLogPath != nullptr) addTextFileLinesElement(writer, "console_log", crash->consoleLogPath);
  writer->endContainer(writer);
}

// Opens the file and the encoder; false when the file cannot be created.
bool beginReport(const char* path, DozidiCrashBufferedWriter* bufferedWriter, char* writeBuffer, int writeBufferSize,
                 DozidiCrashJSONEncodeContext* jsonContext, DozidiCrashReportWriter* writer, int preparedFile = -1) {
  const bool opened =
      (preparedFile >= 0 &&
       dozidicrashfu_openBufferedWriterOnUnnamedFile(bufferedWriter, preparedFile, path, writeBuffer, writeBufferSize)) ||
      dozidicrashfu_openBufferedWriter(bufferedWriter, path, writeBuffer, writeBufferSize);
  if (!opened) return false;
  dozidicrashccd_freeze();
  prepareReportWriter(writer, jsonContext);
  dozidicrashjson_beginEncode(jsonContext, true, addJSONData, bufferedWriter);
  writer->beginObject(writer, "report");
  return true;
}

void endReport(DozidiCrashBufferedWriter* bufferedWriter, DozidiCrashJSONEncodeContext* jsonContext) {
  dozidicrashjson_endEncode(jsonContext);
  dozidicrashfu_closeBufferedWriter(bufferedWriter);
  dozidicrashccd_unfreeze();
}

}  // namespace

void dozidicrashreport_writeStandardReport(const DozidiCrash_MonitorContext* monitorContext, const char* path) {
  char stackBuffer[kWriteBufferSize];
  const bool holdsSectionBuffer = !g_sectionBufferTaken.exchange(true, std::memory_order_acquire);
  char* writeBuffer = holdsSectionBuffer ? g_sectionBuffer : stackBuffer;
  const int writeBufferSize = holdsSectionBuffer ? kSectionBufferSize : kWriteBufferSize;
  DozidiCrashBufferedWriter bufferedWriter;
  DozidiCrashJSONEncodeContext jsonContext;
  DozidiCrashReportWriter concreteWriter;
  const DozidiCrashReportWriter* writer = &concreteWriter;
  const int preparedFile = takePreparedReportFile();
  if (!beginReport(path, &bufferedWriter, writeBuffer, writeBufferSize, &jsonContext, &concreteWriter, preparedFile)) {
    if (holdsSectionBuffer) g_sectionBufferTaken.store(false, std::memory_order_release);
    return;
  }

  // The report goes out in two writes (each a costly system call): what the crash itself
  // tells, while the other threads stop, and the rest once they have. A fault in between still
  // leaves the first part in the file for the recrash report.
  writeReportInfo(writer, "report", "standard", monitorContext->eventID, monitorContext->System.processName);
  writeBinaryImages(writer, "binary_images");
  writeProcessState(writer, "process", monitorContext);
  writeSystemInfo(writer, "system", monitorContext);

  writer->beginObject(writer, "crash");
  writeError(writer, "error", monitorContext);
  dozidicrashfu_flushBufferedWriter(&bufferedWriter);
  // Everything from here on reads what the other threads hold: they must have stopped.
  dozidicrashmc_finishSuspendEnvironment();
  writeAllThreads(writer, "threads", monitorContext, g_introspectionEnabled.load());
  writer->endContainer(writer);

  writeScope(writer, "dozidi_sdk_scope");
  writeUserSection(writer, "user", monitorContext, &bufferedWriter);
  writeDebugInfo(writer, "debug", monitorContext);

  writer->endContainer(writer);
  endReport(&bufferedWriter, &jsonContext);
  if (holdsSectionBuffer) g_sectionBufferTaken.store(false, std::memory_order_release);
}

void dozidicrashreport_writeRecrashReport(const DozidiCrash_MonitorContext* monitorContext, const char* path) {
  // Static: the alternate stack is small and this runs at most once.
  static char tempPath[kDozidiCrashStorePathSize];
  const std::size_t pathLength = std::strlen(path);
  if (pathLength < 5 || pathLength + 1 > sizeof(tempPath)) return;
  std::memcpy(tempPath, path, pathLength - 5);
  std::memcpy(tempPath + pathLength - 5, ".old", 5);
  if (rename(path, tempPath) < 0) {
    DOZIDICRASHLOG_ERROR("Could not rename %s to %s: %s", path, tempPath, dozidicrashfmt_errorText(errno));
  }

  char writeBuffer[kWriteBufferSize];
  DozidiCrashBufferedWriter bufferedWriter;
  DozidiCrashJSONEncodeContext jsonContext;
  DozidiCrashReportWriter concreteWriter;
  const DozidiCrashReportWriter* writer = &concreteWriter;
  if (!beginReport(path, &bufferedWriter, writeBuffer, kWriteBufferSize, &jsonContext, &concreteWriter)) return;

  addJSONFileElement(writer, "recrash_report", tempPath, true);
  dozidicrashfu_flushBufferedWriter(&bufferedWriter);
  if (unlink(tempPath) < 0) {
    DOZIDICRASHLOG_ERROR("Could not remove %s: %s", tempPath, dozidicrashfmt_errorText(errno));
  }
  writeReportInfo(writer, "report", "minimal", monitorContext->eventID, monitorContext->System.processName);
  dozidicrashfu_flushBufferedWriter(&bufferedWriter);

  writer->beginObject(writer, "crash");
  writeError(writer, "error", monitorContext);
  dozidicrashfu_flushBufferedWriter(&bufferedWriter);
  // A fault before the first report's threads were written leaves its suspension to finish.
  dozidicrashmc_finishSuspendEnvironment();
  if (monitorContext->offendingMachineContext != nullptr) {
    writeThread(writer, "crashed_thread", monitorContext, monitorContext->offendingMachineContext,
                crashedThreadIndex(monitorContext), false);
  }
  dozidicrashfu_flushBufferedWriter(&bufferedWriter);
  writer->endContainer(writer);

  writer->endContainer(writer);
  endReport(&bufferedWriter, &jsonContext);
}

void dozidicrashreport_prepare(const char* reportsFolder) {
  if (g_preparedReportFile.load() < 0) {
    const int fd = dozidicrashfu_openUnnamedFile(reportsFolder);
    int none = -1;
    g_preparedReportFileOwner.store(getpid());
    if (fd >= 0 && !g_preparedReportFile.compare_exchange_strong(none, fd)) close(fd);
  }
  if (g_sectionBufferTaken.exchange(true, std::memory_order_acquire)) return;
  // A write to each page backs it now; a first write during the crash would stop for the fault.
  for (int offset = 0; offset < kSectionBufferSize; offset += 4096) static_cast<volatile char*>(g_sectionBuffer)[offset] = 0;
  g_sectionBufferTaken.store(false, std::memory_order_release);
}

void dozidicrashreport_prepareBinaryImages() {
  const PreparedImages* current = g_preparedImages.load(std::memory_order_acquire);
  const std::uintptr_t token = dozidicrashdl_imageListToken();
  if (token == 0 || (current != nullptr && current->token == token)) return;
  ImagesText counted{nullptr, 0, 0};
  const std::uintptr_t visited = encodeBinaryImages(&counted);
  if (visited == 0 || counted.length > static_cast<std::size_t>(INT_MAX)) return;
  ImagesText filled{new char[counted.length + 1], 0, counted.length};
  // The images may have changed between the two visits: the text is kept only when both
  // visited the same ones.
  if (encodeBinaryImages(&filled) != visited || filled.length != counted.length) {
    delete[] filled.bytes;
    return;
  }
  filled.bytes[filled.length] = '\0';
  g_preparedImages.store(new PreparedImages{visited, filled.bytes, static_cast<int>(filled.length)},
                         std::memory_order_release);
}

void dozidicrashreport_setUserInfoJSON(const char* userInfoJSON) {
  std::lock_guard<std::mutex> lock(g_userInfoMutex);
  char* copy = userInfoJSON != nullptr ? strdup(userInfoJSON) : nullptr;
  std::free(g_userInfoJSON.exchange(copy));
}

void dozidicrashreport_setIntrospectMemory(bool shouldIntrospectMemory) {
  g_introspectionEnabled.store(shouldIntrospectMemory);
}

void dozidicrashreport_setDoNotIntrospectClasses(const char** doNotIntrospectClasses, int length) {
  DoNotIntrospectList* newList = nullptr;
  if (doNotIntrospectClasses != nullptr && length >= 1) {
    newList = static_cast<DoNotIntrospectList*>(std::malloc(sizeof(DoNotIntrospectList)));
    char** names = static_cast<char**>(std::calloc(static_cast<std::size_t>(length), sizeof(char*)));
    if (newList == nullptr || names == nullptr) {
      DOZIDICRASHLOG_ERROR("Could not allocate memory");
      std::free(newList);
      std::free(names);
      return;
    }
    for (int i = 0; i < length; ++i) names[i] = strdup(doNotIntrospectClasses[i]);
    newList->names = names;
    newList->count = length;
  }
  if (DoNotIntrospectList* oldList = g_doNotIntrospect.exchange(newList)) {
    for (int i = 0; i < oldList->count; ++i) std::free(oldList->names[i]);
    std::free(oldList->names);
    std::free(oldList);
  }
}

void dozidicrashreport_setUserSectionWriteCallback(DozidiCrashReportWriteCallback userSectionWriteCallback) {
  g_userSectionWriteCallback.store(userSectionWriteCallback);
}
