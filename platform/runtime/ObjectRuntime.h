#pragma once
// A small object runtime: classes with a fixed in-memory layout (name, superclass, instance
// variables), registered by name; objects whose first word points at their class; a replaceable
// `dealloc` per class. Crash-time code reads these layouts directly, so they are plain structs.
// Methods.h adds the method table, message sends and C++ classes on top of these records.
#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace runtime {

struct objc_object;
struct objc_class;
using id = objc_object*;
using Class = const objc_class*;
/// The implementation of `dealloc`: releases the object's resources, then its memory.
using DeallocIMP = void (*)(id self);

/// One instance variable: where it lives in the object and what it holds (a type encoding such
/// as "q" for a 64-bit integer, "d" for a double, "@" for an object, "*" for a C string).
struct objc_ivar {
  const std::int32_t* offset;
  const char* name;
  const char* type;
  std::uint32_t alignment;
  std::uint32_t size;
};

struct objc_ivar_list {
  std::uint32_t entrySize;
  std::uint32_t count;
  const objc_ivar* entries;
};

/// Marks a class record, so that a reader can tell one from arbitrary memory.
inline constexpr std::uint64_t kClassMagic = 0x5353414C43424A4FULL;  // "OBJCLASS"
inline constexpr std::uint32_t kClassFlagMeta = 0x1;
inline constexpr std::uint32_t kClassFlagRoot = 0x2;

struct objc_class {
  Class isa;  ///< the metaclass; a metaclass points at itself
  Class superclass;
  std::uint64_t magic;
  std::uint32_t flags;
  std::uint32_t instanceSize;
  const char* name;
  const objc_ivar_list* ivars;
  /// This class's own `dealloc`; null inherits the superclass's.
  mutable std::atomic<DeallocIMP> dealloc;
  /// The class's own methods (a `detail::MethodList`, see Methods.h): an immutable list, swapped
  /// whole when a method is added or replaced; null without methods of its own.
  mutable std::atomic<const void*> methods;
  /// The path of the binary image that defined the class.
  const char* imagePath;
};

struct objc_object {
  Class isa;
};

/// The registered class of that name, or null.
Class objc_getClass(const char* name);
/// Defines and registers a class below `superclass` with instance variables of the given names
/// and type encodings (each 8 bytes, after the superclass's). Null when the name is taken.
Class objc_defineClass(const char* name, Class superclass,
                       std::initializer_list<std::pair<const char*, const char*>> ivars = {});
const char* class_getName(Class cls);
Class class_getSuperclass(Class cls);
/// Replaces the class's own `dealloc` and returns the one it had (possibly null: inherited).
DeallocIMP class_replaceDealloc(Class cls, DeallocIMP dealloc);

/// A zeroed instance of `cls`.
id class_createInstance(Class cls);
/// Runs the object's `dealloc`: the nearest one up its class chain.
void object_dispose(id object);
Class object_getClass(id object);
const char* object_getClassName(id object);
/// The address of an instance variable's storage in `object`, or null without such a variable.
void* object_ivarStorage(id object, const char* name);

/// The root classes "NSObject" and "NSProxy", and value classes: "NSString" (bytes and length),
/// "NSNumber" (a double), "NSDate" (seconds since 2001), "NSArray" (count and elements),
/// "NSException" (name and reason strings) and "NSBlock".
Class NSObjectClass();
Class NSProxyClass();
id makeString(const std::string& text);
id makeNumber(double value);
id makeDate(double timeIntervalSinceReferenceDate);
/// Holds the elements without owning them.
id makeArray(const std::vector<id>& elements);
id makeExceptionObject(const std::string& name, const std::string& reason);

}  // namespace runtime
