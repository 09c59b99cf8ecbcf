#pragma once
// The storage behind every class record, shared by the class registry and the method table.
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <typeinfo>
#include <vector>

#include "platform/runtime/ObjectRuntime.h"

namespace runtime {
class Object;
namespace detail {

/// A class and its metaclass with everything their records point at. Lives for the process:
/// readers (message sends, the crash recorder) may hold pointers into it at any time.
struct ClassStorage {
  objc_class cls{};
  objc_class meta{};
  std::string name;
  std::string imagePath;
  std::vector<std::int32_t> offsets;
  std::vector<std::string> ivarNames;
  std::vector<std::string> ivarTypes;
  std::vector<objc_ivar> ivars;
  objc_ivar_list ivarList{};
  /// For a class registered for a C++ type: that type and a test whether an object is one.
  const std::type_info* cxxType = nullptr;
  bool (*isInstance)(const Object*) = nullptr;
};

/// Guards the registry and every change of a class (its superclass, its method lists).
std::mutex& registryMutex();
/// Every class by name, in a map, and in the order of registration.
std::map<std::string, ClassStorage*, std::less<>>& registry();
const std::vector<ClassStorage*>& registrationOrder();
/// Defines a class; the caller holds the registry mutex. Null when the name is taken.
ClassStorage* defineLocked(const char* name, Class superclass,
                           std::initializer_list<std::pair<const char*, const char*>> ivars,
                           std::string imagePath);
/// The path of the image holding `address`: the executable's real path for the main program,
/// otherwise the library's path as the dynamic linker names it; empty when no image holds it.
std::string imagePathOf(const void* address);
/// The image of the runtime library itself.
const std::string& runtimeImagePath();

}  // namespace detail
}  // namespace runtime
