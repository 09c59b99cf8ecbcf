#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashObjC.h"

#include <cmath>
#include <cstring>

#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashMemory.h"

namespace {

constexpr std::uint64_t kTaggedPointerMask = 1ULL << 63;
constexpr int kTaggedPointerTagShift = 60;
constexpr std::uint64_t kTaggedPointerPayloadMask = (1ULL << 60) - 1;

int taggedPointerTag(const void* pointer) {
  return static_cast<int>((reinterpret_cast<std::uintptr_t>(pointer) >> kTaggedPointerTagShift) & 7);
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

const void* dozidicrashobjc_isaPointer(const void*) { return nullptr; }
const char* dozidicrashobjc_className(const void*) { return nullptr; }
const char* dozidicrashobjc_objectClassName(const void*) { return nullptr; }
DozidiCrashObjCType dozidicrashobjc_objectType(const void*) { return DozidiCrashObjCTypeUnknown; }
DozidiCrashObjCClassType dozidicrashobjc_objectClassType(const void*) { return DozidiCrashObjCClassTypeUnknown; }
bool dozidicrashobjc_isValidObject(const void*) { return false; }
int dozidicrashobjc_ivarList(const void*, DozidiCrashObjCIvar*, int) { return 0; }
bool dozidicrashobjc_ivarNamed(const void*, const char*, DozidiCrashObjCIvar*) { return false; }
bool dozidicrashobjc_ivarValue(const void*, int, std::uint64_t*) { return false; }
int dozidicrashobjc_copyStringContents(const void*, char*, int) { return -1; }
double dozidicrashobjc_dateContents(const void*) { return 0; }
double dozidicrashobjc_numberAsFloat(const void*) { return NAN; }
std::int64_t dozidicrashobjc_numberAsInteger(const void*) { return 0; }
int dozidicrashobjc_arrayContents(const void*, const void**, int) { return 0; }
