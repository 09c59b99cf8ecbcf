#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashObjC.h"

#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashMemory.h"
#include "platform/runtime/ObjectRuntime.h"

namespace {

constexpr std::uint64_t kTaggedPointerMask = 1ULL << 63;
constexpr int kTaggedPointerTagShift = 60;
constexpr std::uint64_t kTaggedPointerPayloadMask = (1ULL << 60) - 1;

int taggedPointerTag(const void* pointer) {
  return static_cast<int>((reinterpret_cast<std::uintptr_t>(pointer) >> kTaggedPointerTagShift) & 7);
}

constexpr int kMaxNameLength = 128;
constexpr int kMaxTypeLength = 100;
constexpr int kMaxSuperclassSteps = 20;

using runtime::objc_class;
using runtime::objc_ivar;
using runtime::objc_ivar_list;

struct TaggedClass {
  const char* name;
  DozidiCrashObjCClassType type;
};

// What each tag of a tagged pointer stands for.
constexpr TaggedClass kTaggedClasses[8] = {
    {"NSAtom", DozidiCrashObjCClassTypeUnknown},
    {nullptr, DozidiCrashObjCClassTypeUnknown},
    {"NSString", DozidiCrashObjCClassTypeString},
    {"NSNumber", DozidiCrashObjCClassTypeNumber},
    {"NSIndexPath", DozidiCrashObjCClassTypeUnknown},
    {"NSManagedObjectID", DozidiCrashObjCClassTypeUnknown},
    {"NSDate", DozidiCrashObjCClassTypeDate},
    {nullptr, DozidiCrashObjCClassTypeUnknown},
};

struct ClassData {
  const char* name;
  DozidiCrashObjCClassType type;
  std::atomic<const void*> cachedClass;
};

// Value classes by name; the class each row matched is remembered.
ClassData g_classData[] = {
    {"NSString", DozidiCrashObjCClassTypeString, {nullptr}},
    {"NSArray", DozidiCrashObjCClassTypeArray, {nullptr}},
    {"NSDate", DozidiCrashObjCClassTypeDate, {nullptr}},
    {"NSNumber", DozidiCrashObjCClassTypeNumber, {nullptr}},
    {"NSURL", DozidiCrashObjCClassTypeURL, {nullptr}},
    {"NSDictionary", DozidiCrashObjCClassTypeDictionary, {nullptr}},
    {"NSException", DozidiCrashObjCClassTypeException, {nullptr}},
};

constexpr char kSixBitCharacters[] = "eilotrm.apdnsIc ufkMShjTRxgC4013bDNvwyUL2O856P-B79AFKEWV_zGJ/HYX";

bool isValidName(const char* name) {
  const auto address = reinterpret_cast<std::uintptr_t>(name);
  if (name == nullptr || address > UINTPTR_MAX - kMaxNameLength) return false;
  char buffer[kMaxNameLength];
  const int readable = dozidicrashmem_copyMaxPossible(name, buffer, kMaxNameLength);
  if (readable <= 0) return false;
  const auto isAlpha = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; };
  if (!isAlpha(buffer[0])) return false;
  for (int i = 1; i < readable; ++i) {
    if (buffer[i] == '\0') return true;
    if (!isAlpha(buffer[i]) && !(buffer[i] >= '0' && buffer[i] <= '9')) return false;
  }
  return false;
}

bool isValidType(const char* type) {
  char buffer[kMaxTypeLength];
  const int readable = dozidicrashmem_copyMaxPossible(type, buffer, kMaxTypeLength);
  if (readable <= 0 || buffer[0] < 0x21 || buffer[0] > 0x7E) return false;
  for (int i = 1; i < readable; ++i) {
    if (buffer[i] == '\0') return true;
  }
  return false;
}

// A copy of the class record at `pointer`, when it reads as one.
bool readClass(const void* pointer, objc_class* cls) {
  if (pointer == nullptr || !dozidicrashmem_copySafely(pointer, cls, sizeof(*cls))) return false;
  return cls->magic == runtime::kClassMagic && isValidName(cls->name);
}

bool readIvarList(const objc_class& cls, objc_ivar_list* list) {
  if (cls.ivars == nullptr) {
    list->count = 0;
    return true;
  }
  return dozidicrashmem_copySafely(cls.ivars, list, sizeof(*list)) && list->entrySize == sizeof(objc_ivar);
}

bool readIvar(const objc_ivar_list& list, std::uint32_t index, objc_ivar* ivar) {
  return index < list.count && dozidicrashmem_copySafely(&list.entries[index], ivar, sizeof(*ivar)) &&
         isValidName(ivar->name) && isValidType(ivar->type);
}

bool describeIvar(const objc_ivar& ivar, std::uint32_t index, DozidiCrashObjCIvar* dst) {
  std::int32_t offset = 0;
  if (!dozidicrashmem_copySafely(ivar.offset, &offset, sizeof(offset))) return false;
  *dst = {ivar.name, ivar.type, static_cast<int>(index), offset, static_cast<int>(ivar.size)};
  return true;
}

// The class record an object's first word points at.
const void* classOf(const void* object) {
  const void* isa = nullptr;
  if (!dozidicrashmem_copySafely(object, &isa, sizeof(isa))) return nullptr;
  return isa;
}

// The value class of a class, found by name along its chain.
DozidiCrashObjCClassType classTypeOf(const void* classPtr) {
  const void* current = classPtr;
  for (int step = 0; step < kMaxSuperclassSteps && current != nullptr; ++step) {
    objc_class cls;
    if (!readClass(current, &cls)) break;
    for (ClassData& row : g_classData) {
      const void* cached = row.cachedClass.load(std::memory_order_relaxed);
      if (cached == current) return row.type;
      if (cached == nullptr && std::strncmp(cls.name, row.name, kMaxNameLength) == 0) {
        row.cachedClass.store(current, std::memory_order_relaxed);
        return row.type;
      }
    }
    current = cls.superclass;
  }
  return DozidiCrashObjCClassTypeUnknown;
}

template <typename T>
bool readIvarNamed(const void* object, const char* name, T* value) {
  DozidiCrashObjCIvar ivar;
  std::uint64_t bits = 0;
  if (!dozidicrashobjc_ivarNamed(dozidicrashobjc_isaPointer(object), name, &ivar) ||
      !dozidicrashobjc_ivarValueOf(object, &ivar, &bits)) {
    return false;
  }
  std::memcpy(value, &bits, sizeof(T));
  return true;
}

// A tagged string's characters: up to 7 ASCII bytes, or 6-bit or 5-bit table indexes.
int copyTaggedString(const void* pointer, char* dst, int maxLength) {
  const std::uint64_t payload = dozidicrashobjc_taggedPointerPayload(pointer);
  const int length = static_cast<int>(payload & 0xF);
  const std::uint64_t value = payload >> 4;
  char characters[12] = {};
  if (length < 8) {
    for (int i = 0; i < length; ++i) characters[i] = static_cast<char>((value >> (8 * i)) & 0x7F);
  } else if (length < 10) {
    for (int i = 0; i < length; ++i) characters[i] = kSixBitCharacters[(value >> (6 * (length - 1 - i))) & 0x3F];
  } else if (length < 12) {
    for (int i = 0; i < length; ++i) characters[i] = kSixBitCharacters[(value >> (5 * (length - 1 - i))) & 0x1F];
  }
  const int usable = length < 12 ? length : 0;
  const int copied = usable < maxLength - 1 ? usable : maxLength - 1;
  std::memcpy(dst, characters, static_cast<std::size_t>(copied));
  dst[copied] = '\0';
  return copied;
}

// Bits 4 to 59 of a tagged pointer, sign-extended.
std::int64_t taggedSignedValue(const void* pointer) {
  const auto bits = static_cast<std::int64_t>(reinterpret_cast<std::uintptr_t>(pointer) << 4);
  return bits >> 8;
}

}  // namespace

bool dozidicrashobjc_isTaggedPointer(const void* pointer) {
  return (reinterpret_cast<std::uintptr_t>(pointer) & kTaggedPointerMask) != 0;
}

bool dozidicrashobjc_isValidTaggedPointer(const void* pointer) {
  if (!dozidicrashobjc_isTaggedPointer(pointer)) return false;
  const int tag = taggedPointerTag(pointer);
  return tag == 2 || tag == 3 || tag == 6;
}

std::uint64_t dozidicrashobjc_taggedPointerPayload(const void* pointer) {
  return reinterpret_cast<std::uintptr_t>(pointer) & kTaggedPointerPayloadMask;
}

const void* dozidicrashobjc_isaPointer(const void* objectOrClass) {
  if (objectOrClass == nullptr || dozidicrashobjc_isTaggedPointer(objectOrClass)) return nullptr;
  return classOf(objectOrClass);
}

const char* dozidicrashobjc_className(const void* classPtr) {
  objc_class cls;
  return readClass(classPtr, &cls) ? cls.name : nullptr;
}

const char* dozidicrashobjc_objectClassName(const void* objectPtr) {
  if (dozidicrashobjc_isTaggedPointer(objectPtr)) return kTaggedClasses[taggedPointerTag(objectPtr)].name;
  return dozidicrashobjc_className(dozidicrashobjc_isaPointer(objectPtr));
}

DozidiCrashObjCType dozidicrashobjc_objectType(const void* objectOrClassPtr) {
  if (objectOrClassPtr == nullptr) return DozidiCrashObjCTypeUnknown;
  if (dozidicrashobjc_isTaggedPointer(objectOrClassPtr)) return DozidiCrashObjCTypeObject;
  const void* isa = classOf(objectOrClassPtr);
  objc_class cls;
  if (!readClass(isa, &cls)) return DozidiCrashObjCTypeUnknown;
  if ((cls.flags & runtime::kClassFlagMeta) != 0) {
    // The pointer's class is a metaclass: the pointer is a class itself.
    objc_class self;
    return readClass(objectOrClassPtr, &self) ? DozidiCrashObjCTypeClass : DozidiCrashObjCTypeUnknown;
  }
  // A block's class sits below "NSBlock", the class right under the root.
  const void* current = isa;
  for (int step = 0; step < kMaxSuperclassSteps; ++step) {
    objc_class currentClass;
    if (!readClass(current, &currentClass)) break;
    objc_class superclass;
    if (currentClass.superclass == nullptr || !readClass(currentClass.superclass, &superclass)) break;
    if (superclass.superclass == nullptr) {
      if (std::strncmp(currentClass.name, "NSBlock", kMaxNameLength) == 0) return DozidiCrashObjCTypeBlock;
      break;
    }
    current = currentClass.superclass;
  }
  return DozidiCrashObjCTypeObject;
}

DozidiCrashObjCClassType dozidicrashobjc_objectClassType(const void* object) {
  if (dozidicrashobjc_isTaggedPointer(object)) return kTaggedClasses[taggedPointerTag(object)].type;
  return classTypeOf(dozidicrashobjc_isaPointer(object));
}

bool dozidicrashobjc_isValidObject(const void* object) {
  if (dozidicrashobjc_isTaggedPointer(object)) return dozidicrashobjc_isValidTaggedPointer(object);
  return dozidicrashobjc_objectType(object) == DozidiCrashObjCTypeObject;
}

int dozidicrashobjc_ivarList(const void* classPtr, DozidiCrashObjCIvar* dstIvars, int ivarsCount) {
  objc_class cls;
  objc_ivar_list list;
  if (!readClass(classPtr, &cls) || !readIvarList(cls, &list)) return 0;
  int count = 0;
  for (std::uint32_t i = 0; i < list.count && count < ivarsCount; ++i) {
    objc_ivar ivar;
    if (!readIvar(list, i, &ivar) || !describeIvar(ivar, i, &dstIvars[count])) return 0;
    ++count;
  }
  return count;
}

bool dozidicrashobjc_ivarNamed(const void* classPtr, const char* name, DozidiCrashObjCIvar* dst) {
  const void* current = classPtr;
  for (int step = 0; step < kMaxSuperclassSteps && current != nullptr; ++step) {
    objc_class cls;
    objc_ivar_list list;
    if (!readClass(current, &cls) || !readIvarList(cls, &list)) return false;
    for (std::uint32_t i = 0; i < list.count; ++i) {
      objc_ivar ivar;
      if (readIvar(list, i, &ivar) && std::strncmp(ivar.name, name, kMaxNameLength) == 0) {
        return describeIvar(ivar, i, dst);
      }
    }
    current = cls.superclass;
  }
  return false;
}

bool dozidicrashobjc_ivarValueOf(const void* objectPtr, const DozidiCrashObjCIvar* ivar, std::uint64_t* dst) {
  const int size = ivar->size < static_cast<int>(sizeof(*dst)) ? ivar->size : static_cast<int>(sizeof(*dst));
  *dst = 0;
  return size > 0 && dozidicrashmem_copySafely(static_cast<const char*>(objectPtr) + ivar->offset, dst, size);
}

bool dozidicrashobjc_ivarValue(const void* objectPtr, int ivarIndex, std::uint64_t* dst) {
  if (dozidicrashobjc_isTaggedPointer(objectPtr)) {
    const int tag = taggedPointerTag(objectPtr);
    if (tag == 3) {
      *dst = static_cast<std::uint64_t>(taggedSignedValue(objectPtr));
      return true;
    }
    if (tag == 6) {
      *dst = reinterpret_cast<std::uintptr_t>(objectPtr) << 4;
      return true;
    }
    return false;
  }
  objc_class cls;
  objc_ivar_list list;
  objc_ivar ivar;
  std::int32_t offset = 0;
  if (ivarIndex < 0 || !readClass(dozidicrashobjc_isaPointer(objectPtr), &cls) || !readIvarList(cls, &list) ||
      !readIvar(list, static_cast<std::uint32_t>(ivarIndex), &ivar) ||
      !dozidicrashmem_copySafely(ivar.offset, &offset, sizeof(offset))) {
    return false;
  }
  const std::uint32_t size = ivar.size < sizeof(*dst) ? ivar.size : sizeof(*dst);
  *dst = 0;
  return dozidicrashmem_copySafely(static_cast<const char*>(objectPtr) + offset, dst, static_cast<int>(size));
}

int dozidicrashobjc_copyStringContents(const void* string, char* dst, int maxLength) {
  if (maxLength < 1) return -1;
  if (dozidicrashobjc_isTaggedPointer(string)) {
    return taggedPointerTag(string) == 2 ? copyTaggedString(string, dst, maxLength) : -1;
  }
  std::uint64_t length = 0;
  const char* bytes = nullptr;
  if (!readIvarNamed(string, "_length", &length) || !readIvarNamed(string, "_bytes", &bytes)) return -1;
  const int copyLength = length < static_cast<std::uint64_t>(maxLength - 1) ? static_cast<int>(length) : maxLength - 1;
  if (!dozidicrashmem_copySafely(bytes, dst, copyLength)) return -1;
  dst[copyLength] = '\0';
  return copyLength;
}

double dozidicrashobjc_dateContents(const void* datePtr) {
  double value = 0;
  if (dozidicrashobjc_isTaggedPointer(datePtr)) {
    const std::uint64_t bits = reinterpret_cast<std::uintptr_t>(datePtr) << 4;
    std::memcpy(&value, &bits, sizeof(value));
    return value;
  }
  readIvarNamed(datePtr, "_time", &value);
  return value;
}

double dozidicrashobjc_numberAsFloat(const void* object) {
  if (dozidicrashobjc_isTaggedPointer(object)) return static_cast<double>(taggedSignedValue(object));
  double value = NAN;
  readIvarNamed(object, "_value", &value);
  return value;
}

std::int64_t dozidicrashobjc_numberAsInteger(const void* object) {
  if (dozidicrashobjc_isTaggedPointer(object)) return taggedSignedValue(object);
  const double value = dozidicrashobjc_numberAsFloat(object);
  if (!(value >= -9.2e18 && value <= 9.2e18)) return 0;
  return static_cast<std::int64_t>(value);
}

int dozidicrashobjc_arrayContents(const void* arrayPtr, const void** contents, int count) {
  std::uint64_t arrayCount = 0;
  const void* const* items = nullptr;
  if (!readIvarNamed(arrayPtr, "_count", &arrayCount) || !readIvarNamed(arrayPtr, "_items", &items)) return 0;
  const int copyCount = arrayCount < static_cast<std::uint64_t>(count) ? static_cast<int>(arrayCount) : count;
  if (copyCount <= 0 || !dozidicrashmem_copySafely(items, contents, copyCount * static_cast<int>(sizeof(void*)))) {
    return 0;
  }
  return copyCount;
}
