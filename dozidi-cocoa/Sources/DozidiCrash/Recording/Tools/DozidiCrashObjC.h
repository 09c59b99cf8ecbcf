#pragma once
// Reading values as objects of the object runtime without calling into it: every read goes
// through the safe copies, so a dangling or corrupt pointer is answered "unknown", never touched.
#include <cstdint>

enum DozidiCrashObjCType {
  DozidiCrashObjCTypeUnknown = 0,
  DozidiCrashObjCTypeClass,
  DozidiCrashObjCTypeObject,
  DozidiCrashObjCTypeBlock,
};

enum DozidiCrashObjCClassType {
  DozidiCrashObjCClassTypeUnknown = 0,
  DozidiCrashObjCClassTypeString,
  DozidiCrashObjCClassTypeDate,
  DozidiCrashObjCClassTypeURL,
  DozidiCrashObjCClassTypeArray,
  DozidiCrashObjCClassTypeDictionary,
  DozidiCrashObjCClassTypeNumber,
  DozidiCrashObjCClassTypeException,
};

struct DozidiCrashObjCIvar {
  const char* name;
  const char* type;
  int index;  ///< in its class's own list
  int offset;  ///< of its storage in an object
  int size;
};

// Every operation runs during a crash: no allocation, no locks.
bool dozidicrashobjc_isTaggedPointer(const void* pointer);
bool dozidicrashobjc_isValidTaggedPointer(const void* pointer);
std::uint64_t dozidicrashobjc_taggedPointerPayload(const void* pointer);
const void* dozidicrashobjc_isaPointer(const void* objectOrClass);
const char* dozidicrashobjc_className(const void* classPtr);
const char* dozidicrashobjc_objectClassName(const void* objectPtr);
DozidiCrashObjCType dozidicrashobjc_objectType(const void* objectOrClassPtr);
DozidiCrashObjCClassType dozidicrashobjc_objectClassType(const void* object);
bool dozidicrashobjc_isValidObject(const void* object);
int dozidicrashobjc_ivarList(const void* classPtr, DozidiCrashObjCIvar* dstIvars, int ivarsCount);
/// Looks in the class and then up its superclasses.
bool dozidicrashobjc_ivarNamed(const void* classPtr, const char* name, DozidiCrashObjCIvar* dst);
/// The variable's bits, widened to 64.
bool dozidicrashobjc_ivarValue(const void* objectPtr, int ivarIndex, std::uint64_t* dst);
/// The bits of a variable found by dozidicrashobjc_ivarNamed, widened to 64.
bool dozidicrashobjc_ivarValueOf(const void* objectPtr, const DozidiCrashObjCIvar* ivar, std::uint64_t* dst);
/// Copies at most maxLength - 1 bytes and a NUL; returns the bytes copied, -1 when unreadable.
int dozidicrashobjc_copyStringContents(const void* string, char* dst, int maxLength);
double dozidicrashobjc_dateContents(const void* datePtr);
double dozidicrashobjc_numberAsFloat(const void* object);
std::int64_t dozidicrashobjc_numberAsInteger(const void* object);
int dozidicrashobjc_arrayContents(const void* arrayPtr, const void** contents, int count);
