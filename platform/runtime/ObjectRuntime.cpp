#include "platform/runtime/ObjectRuntime.h"

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include "platform/runtime/detail/ClassStorage.h"

namespace runtime {

namespace detail {

std::mutex& registryMutex() {
  static auto* mutex = new std::mutex();
  return *mutex;
}

std::map<std::string, ClassStorage*, std::less<>>& registry() {
  static auto* classes = new std::map<std::string, ClassStorage*, std::less<>>();
  return *classes;
}

namespace {
std::vector<ClassStorage*>& mutableRegistrationOrder() {
  static auto* order = new std::vector<ClassStorage*>();
  return *order;
}
}  // namespace

const std::vector<ClassStorage*>& registrationOrder() { return mutableRegistrationOrder(); }

std::string imagePathOf(const void* address) {
  Dl_info info{};
  link_map* map = nullptr;
  if (::dladdr1(address, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) == 0) return {};
  if (map != nullptr && map->l_name != nullptr && map->l_name[0] != '\0') return map->l_name;
  // The main program: the loader knows it by no name (dladdr would give argv[0]).
  char path[4096];
  ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return info.dli_fname != nullptr ? info.dli_fname : "";
  return std::string(path, static_cast<std::size_t>(n));
}

const std::string& runtimeImagePath() {
  static const int anchor = 0;
  static const auto* path = new std::string(imagePathOf(&anchor));
  return *path;
}

}  // namespace detail

namespace {

using detail::ClassStorage;
using detail::registry;
using detail::registryMutex;

constexpr std::uint32_t kWordSize = 8;

void freeObject(id self) { std::free(self); }

}  // namespace

detail::ClassStorage* detail::defineLocked(const char* name, Class superclass,
                                           std::initializer_list<std::pair<const char*, const char*>> ivars,
                                           std::string imagePath) {
  auto& classes = registry();
  if (classes.contains(name)) return nullptr;
  auto* storage = new ClassStorage();
  storage->name = name;
  std::uint32_t size = superclass != nullptr ? superclass->instanceSize : kWordSize;
  storage->offsets.reserve(ivars.size());
  for (const auto& [ivarName, type] : ivars) {
    storage->offsets.push_back(static_cast<std::int32_t>(size));
    storage->ivarNames.emplace_back(ivarName);
    storage->ivarTypes.emplace_back(type);
    size += kWordSize;
  }
  for (std::size_t i = 0; i < storage->offsets.size(); ++i) {
    storage->ivars.push_back({&storage->offsets[i], storage->ivarNames[i].c_str(), storage->ivarTypes[i].c_str(),
                              kWordSize, kWordSize});
  }
  storage->ivarList = {sizeof(objc_ivar), static_cast<std::uint32_t>(storage->ivars.size()), storage->ivars.data()};

  objc_class& meta = storage->meta;
  meta.isa = &meta;
  meta.superclass = superclass != nullptr ? superclass->isa : nullptr;
  meta.magic = kClassMagic;
  meta.flags = kClassFlagMeta | (superclass == nullptr ? kClassFlagRoot : 0);
  meta.name = storage->name.c_str();
  storage->imagePath = std::move(imagePath);
  meta.imagePath = storage->imagePath.c_str();

  objc_class& cls = storage->cls;
  cls.isa = &meta;
  cls.superclass = superclass;
  cls.magic = kClassMagic;
  cls.flags = superclass == nullptr ? kClassFlagRoot : 0;
  cls.instanceSize = size;
  cls.name = storage->name.c_str();
  cls.ivars = storage->ivars.empty() ? nullptr : &storage->ivarList;
  cls.dealloc.store(superclass == nullptr ? freeObject : nullptr);
  cls.imagePath = storage->imagePath.c_str();
  classes.emplace(storage->name, storage);
  mutableRegistrationOrder().push_back(storage);
  return storage;
}

namespace {

Class defineLocked(const char* name, Class superclass, std::initializer_list<std::pair<const char*, const char*>> ivars) {
  ClassStorage* storage = detail::defineLocked(name, superclass, ivars, detail::runtimeImagePath());
  return storage != nullptr ? &storage->cls : nullptr;
}

// Strings and arrays own their storage: their dealloc frees it, then the object.
void deallocOwnedStorage(id self) {
  for (const char* name : {"_bytes", "_items"}) {
    if (void** storage = static_cast<void**>(object_ivarStorage(self, name))) {
      std::free(*storage);
      *storage = nullptr;
    }
  }
  freeObject(self);
}

struct BuiltIns {
  Class object;
  Class proxy;
  Class string;
  Class number;
  Class date;
  Class array;
  Class exception;
};

const BuiltIns& builtIns() {
  static const BuiltIns classes = [] {
    std::lock_guard<std::mutex> lock(registryMutex());
    BuiltIns b{};
    b.object = defineLocked("NSObject", nullptr, {});
    b.proxy = defineLocked("NSProxy", nullptr, {});
    b.string = defineLocked("NSString", b.object, {{"_length", "Q"}, {"_bytes", "*"}});
    b.number = defineLocked("NSNumber", b.object, {{"_value", "d"}});
    b.date = defineLocked("NSDate", b.object, {{"_time", "d"}});
    b.array = defineLocked("NSArray", b.object, {{"_count", "Q"}, {"_items", "^@"}});
    b.exception = defineLocked("NSException", b.object, {{"name", "@"}, {"reason", "@"}});
    defineLocked("NSBlock", b.object, {});
    b.string->dealloc.store(deallocOwnedStorage);
    b.array->dealloc.store(deallocOwnedStorage);
    return b;
  }();
  return classes;
}

template <typename T>
void setIvar(id object, const char* name, T value) {
  std::memcpy(object_ivarStorage(object, name), &value, sizeof(value));
}

}  // namespace

Class objc_getClass(const char* name) {
  builtIns();
  std::lock_guard<std::mutex> lock(registryMutex());
  auto found = registry().find(std::string_view(name));
  return found != registry().end() ? &found->second->cls : nullptr;
}

Class objc_defineClass(const char* name, Class superclass, std::initializer_list<std::pair<const char*, const char*>> ivars) {
  builtIns();
  std::lock_guard<std::mutex> lock(registryMutex());
  return defineLocked(name, superclass, ivars);
}

const char* class_getName(Class cls) { return cls != nullptr ? cls->name : nullptr; }
Class class_getSuperclass(Class cls) { return cls != nullptr ? cls->superclass : nullptr; }
DeallocIMP class_replaceDealloc(Class cls, DeallocIMP dealloc) { return cls->dealloc.exchange(dealloc); }

id class_createInstance(Class cls) {
  auto* object = static_cast<id>(std::calloc(1, cls->instanceSize));
  if (object != nullptr) object->isa = cls;
  return object;
}

void object_dispose(id object) {
  if (object == nullptr) return;
  for (Class c = object->isa; c != nullptr; c = c->superclass) {
    if (DeallocIMP dealloc = c->dealloc.load()) return dealloc(object);
  }
}

Class object_getClass(id object) { return object != nullptr ? object->isa : nullptr; }
const char* object_getClassName(id object) { return class_getName(object_getClass(object)); }

void* object_ivarStorage(id object, const char* name) {
  for (Class c = object_getClass(object); c != nullptr; c = c->superclass) {
    if (c->ivars == nullptr) continue;
    for (std::uint32_t i = 0; i < c->ivars->count; ++i) {
      const objc_ivar& ivar = c->ivars->entries[i];
      if (std::strcmp(ivar.name, name) == 0) return reinterpret_cast<char*>(object) + *ivar.offset;
    }
  }
  return nullptr;
}

Class NSObjectClass() { return builtIns().object; }
Class NSProxyClass() { return builtIns().proxy; }

id makeString(const std::string& text) {
  id string = class_createInstance(builtIns().string);
  char* bytes = static_cast<char*>(std::malloc(text.size() + 1));
  std::memcpy(bytes, text.c_str(), text.size() + 1);
  setIvar<std::uint64_t>(string, "_length", text.size());
  setIvar<char*>(string, "_bytes", bytes);
  return string;
}

id makeNumber(double value) {
  id number = class_createInstance(builtIns().number);
  setIvar(number, "_value", value);
  return number;
}

id makeDate(double timeIntervalSinceReferenceDate) {
  id date = class_createInstance(builtIns().date);
  setIvar(date, "_time", timeIntervalSinceReferenceDate);
  return date;
}

id makeArray(const std::vector<id>& elements) {
  id array = class_createInstance(builtIns().array);
  auto* items = static_cast<id*>(std::calloc(elements.size() + 1, sizeof(id)));
  for (std::size_t i = 0; i < elements.size(); ++i) items[i] = elements[i];
  setIvar<std::uint64_t>(array, "_count", elements.size());
  setIvar<id*>(array, "_items", items);
  return array;
}

id makeExceptionObject(const std::string& name, const std::string& reason) {
  id exception = class_createInstance(builtIns().exception);
  setIvar<id>(exception, "name", makeString(name));
  setIvar<id>(exception, "reason", makeString(reason));
  return exception;
}

}  // namespace runtime
