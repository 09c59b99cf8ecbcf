#include "platform/runtime/Methods.h"

#include <map>
#include <memory>
#include <mutex>
#include <typeindex>
#include <unordered_map>

#include "platform/runtime/detail/ClassStorage.h"

namespace runtime {

namespace detail {

/// A class's own methods. Never changed once published, and never freed: a send on another
/// thread may still be reading a list that a replacement has just swapped out.
struct MethodList {
  std::vector<objc_method> entries;
};

namespace {

struct Tables {
  std::mutex selectorMutex;
  std::unordered_map<std::string_view, objc_selector*> selectors;
  std::mutex implementationMutex;
  std::vector<std::unique_ptr<objc_imp>> implementations;
  // Guarded by the registry mutex.
  std::vector<std::unique_ptr<MethodList>> lists;
  std::map<std::type_index, ClassStorage*> classesByType;
  std::multimap<std::type_index, ClassStorage*> waitingForSuperclass;
  std::vector<ClassStorage*> cxxClasses;
};

Tables& tables() {
  static auto* shared = new Tables();
  return *shared;
}

const MethodList* methodsOf(Class cls) {
  return static_cast<const MethodList*>(cls->methods.load(std::memory_order_acquire));
}

Method ownMethod(Class cls, SEL name) {
  if (const MethodList* list = methodsOf(cls)) {
    for (const objc_method& method : list->entries) {
      if (method.name == name) return &method;
    }
  }
  return nullptr;
}

void linkToSuperclass(ClassStorage& child, ClassStorage& parent) {
  child.cls.superclass = &parent.cls;
  child.meta.superclass = &parent.meta;
  child.cls.flags &= ~kClassFlagRoot;
  child.meta.flags &= ~kClassFlagRoot;
}

int depthOf(Class cls) {
  int depth = 0;
  for (; cls != nullptr; cls = cls->superclass) ++depth;
  return depth;
}

}  // namespace

IMP keepImplementation(objc_imp* imp) {
  Tables& t = tables();
  std::lock_guard<std::mutex> lock(t.implementationMutex);
  t.implementations.emplace_back(imp);
  return imp;
}

IMP lookUpImp(Class cls, SEL name) {
  for (; cls != nullptr; cls = cls->superclass) {
    if (const MethodList* list = methodsOf(cls)) {
      for (const objc_method& method : list->entries) {
        if (method.name == name) return method.imp;
      }
    }
  }
  return nullptr;
}

Class classForType(const std::type_info& type) {
  if (type == typeid(Object)) return NSObjectClass();
  std::lock_guard<std::mutex> lock(registryMutex());
  auto found = tables().classesByType.find(type);
  return found != tables().classesByType.end() ? &found->second->cls : nullptr;
}

Class registerCxxClass(const char* name, const std::type_info& type, const std::type_info& superType,
                       bool (*isInstance)(const Object*), const void* anchor) {
  Class root = NSObjectClass();
  std::string imagePath = imagePathOf(anchor);
  std::lock_guard<std::mutex> lock(registryMutex());
  Tables& t = tables();
  if (auto existing = t.classesByType.find(type); existing != t.classesByType.end()) return &existing->second->cls;

  Class superclass = nullptr;
  if (superType == typeid(Object)) {
    superclass = root;
  } else if (auto parent = t.classesByType.find(superType); parent != t.classesByType.end()) {
    superclass = &parent->second->cls;
  }
  ClassStorage* storage = defineLocked(name, superclass, {}, std::move(imagePath));
  if (storage == nullptr) return nullptr;
  storage->cxxType = &type;
  storage->isInstance = isInstance;
  // No dealloc: C++ objects end through their destructors, never through object_dispose.
  storage->cls.dealloc.store(nullptr);
  if (superclass == nullptr) t.waitingForSuperclass.emplace(superType, storage);
  t.classesByType.emplace(type, storage);
  t.cxxClasses.push_back(storage);

  auto [first, last] = t.waitingForSuperclass.equal_range(type);
  for (auto it = first; it != last; ++it) linkToSuperclass(*it->second, *storage);
  t.waitingForSuperclass.erase(first, last);
  return &storage->cls;
}

}  // namespace detail

using detail::MethodList;
using detail::tables;

SEL sel_registerName(std::string_view name) {
  auto& t = tables();
  std::lock_guard<std::mutex> lock(t.selectorMutex);
  if (auto found = t.selectors.find(name); found != t.selectors.end()) return found->second;
  auto* selector = new objc_selector{std::string(name)};
  t.selectors.emplace(selector->name, selector);
  return selector;
}

const char* sel_getName(SEL selector) { return selector != nullptr ? selector->name.c_str() : ""; }

std::string imp_getTypeEncoding(IMP imp) {
  return imp != nullptr && imp->signature != nullptr ? imp->signature->name() : "";
}

SEL method_getName(Method method) { return method != nullptr ? method->name : nullptr; }
IMP method_getImplementation(Method method) { return method != nullptr ? method->imp : nullptr; }
std::string method_getTypeEncoding(Method method) { return imp_getTypeEncoding(method_getImplementation(method)); }

Method class_getInstanceMethod(Class cls, SEL name) {
  for (; cls != nullptr; cls = cls->superclass) {
    if (Method method = detail::ownMethod(cls, name)) return method;
  }
  return nullptr;
}

Method class_getClassMethod(Class cls, SEL name) {
  return cls != nullptr ? class_getInstanceMethod(cls->isa, name) : nullptr;
}

IMP class_getMethodImplementation(Class cls, SEL name) { return detail::lookUpImp(cls, name); }
bool class_respondsToSelector(Class cls, SEL name) { return detail::lookUpImp(cls, name) != nullptr; }

namespace {

// Publishes `list` as the class's own methods; the caller holds the registry mutex.
void publish(Class cls, std::unique_ptr<MethodList> list) {
  cls->methods.store(list.get(), std::memory_order_release);
  tables().lists.push_back(std::move(list));
}

std::unique_ptr<MethodList> copyOfMethods(Class cls) {
  const MethodList* current = detail::methodsOf(cls);
  return std::make_unique<MethodList>(current != nullptr ? *current : MethodList{});
}

}  // namespace

bool class_addMethod(Class cls, SEL name, IMP imp) {
  if (cls == nullptr || name == nullptr || imp == nullptr) return false;
  std::lock_guard<std::mutex> lock(detail::registryMutex());
  if (detail::ownMethod(cls, name) != nullptr) return false;
  auto list = copyOfMethods(cls);
  list->entries.push_back({name, imp});
  publish(cls, std::move(list));
  return true;
}

std::optional<IMP> class_replaceMethod(Class cls, SEL name, IMP imp) {
  if (cls == nullptr || name == nullptr || imp == nullptr || imp->signature == nullptr) return std::nullopt;
  std::lock_guard<std::mutex> lock(detail::registryMutex());
  Method current = class_getInstanceMethod(cls, name);
  // A replacement of another signature would be called with arguments it does not take.
  if (current != nullptr && !imp->hasSignature(*current->imp->signature)) return std::nullopt;
  auto list = copyOfMethods(cls);
  IMP displaced = nullptr;
  bool replaced = false;
  for (objc_method& method : list->entries) {
    if (method.name != name) continue;
    displaced = method.imp;
    method.imp = imp;
    replaced = true;
  }
  if (!replaced) list->entries.push_back({name, imp});
  publish(cls, std::move(list));
  return displaced;
}

const char* class_getImageName(Class cls) { return cls != nullptr ? cls->imagePath : nullptr; }

std::vector<std::string> copyClassNamesForImage(std::string_view imagePath) {
  NSObjectClass();
  std::vector<std::string> names;
  std::lock_guard<std::mutex> lock(detail::registryMutex());
  for (const detail::ClassStorage* storage : detail::registrationOrder()) {
    if (storage->imagePath == imagePath) names.push_back(storage->name);
  }
  return names;
}

bool isSubclassOf(Class cls, Class parent) {
  if (parent == nullptr) return false;
  for (; cls != nullptr; cls = cls->superclass) {
    if (cls == parent) return true;
  }
  return false;
}

bool class_isMetaClass(Class cls) { return cls != nullptr && (cls->flags & kClassFlagMeta) != 0; }

Class object_getClass(const Object* object) {
  if (object == nullptr) return nullptr;
  if (Class cls = object->isa_.load(std::memory_order_acquire)) return cls;
  Class found = detail::classForType(typeid(*object));
  if (found == nullptr) {
    // A type of its own that is not registered: the class of its nearest registered base.
    std::lock_guard<std::mutex> lock(detail::registryMutex());
    int bestDepth = 0;
    for (const detail::ClassStorage* storage : tables().cxxClasses) {
      int depth = detail::depthOf(&storage->cls);
      if (depth > bestDepth && storage->isInstance(object)) {
        found = &storage->cls;
        bestDepth = depth;
      }
    }
  }
  if (found == nullptr) found = NSObjectClass();
  object->isa_.store(found, std::memory_order_release);
  return found;
}

void object_setClass(Object* object, Class cls) {
  if (object != nullptr) object->isa_.store(cls, std::memory_order_release);
}

const char* object_getClassName(const Object* object) { return class_getName(object_getClass(object)); }

bool respondsToSelector(const Object* object, SEL name) {
  return object != nullptr && class_respondsToSelector(object_getClass(object), name);
}

bool isKindOfClass(const Object* object, Class cls) { return isSubclassOf(object_getClass(object), cls); }

}  // namespace runtime
