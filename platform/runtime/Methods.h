#pragma once
// The method table of the object runtime: selectors interned by name, implementations that carry
// their signature, per-class method lists read without a lock on every message send, method
// replacement by name at run time, and C++ types registered as runtime classes with the image
// that defines them.
//
// A C++ type takes part by deriving from `runtime::Object` and being registered with one line in
// its .cpp file:
//
//   RUNTIME_CLASS(MainViewController, uikit::UIViewController, "Fendrel.MainViewController");
//
// Its methods are then sent through the table (`msgSend<void(bool)>(controller, sel, true)`), so
// that a method can be replaced for one class, by name, while the program runs.
#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <typeinfo>
#include <utility>
#include <vector>

#include "platform/runtime/ObjectRuntime.h"

namespace runtime {

class Object;

/// A selector: the one interned record of a method name, spelled with its colons
/// ("viewWillAppear:", "sendAction:to:from:forEvent:"). Compared by identity.
struct objc_selector {
  std::string name;
};
using SEL = const objc_selector*;

/// The selector of that name, made on first use; the same pointer for the same name for the life
/// of the process. Any thread. Callers on hot paths keep it in a static.
SEL sel_registerName(std::string_view name);
/// The selector's name; "" for null.
const char* sel_getName(SEL selector);

/// An implementation: a callable taking the receiver and the method's own arguments, with the
/// signature it was made for. The signature is checked on every send, so a caller that names a
/// different signature never calls it with the wrong arguments.
struct objc_imp {
  virtual ~objc_imp() = default;
  /// The C++ type `R(Args...)` of the method, without the receiver.
  const std::type_info* signature = nullptr;
  bool hasSignature(const std::type_info& type) const { return signature == &type || *signature == type; }
};
/// Implementations live for the process: a wrapper may still call one it displaced.
using IMP = const objc_imp*;

template <class Signature>
struct ImpOf;
template <class R, class... Args>
struct ImpOf<R(Args...)> : objc_imp {
  std::function<R(Object* self, Args...)> call;
};

namespace detail {
/// Keeps `imp` for the life of the process and returns it.
IMP keepImplementation(objc_imp* imp);
}  // namespace detail

/// Makes an implementation of signature `R(Args...)` from a callable taking the receiver and the
/// arguments: `imp_implementationWithBlock<void(bool)>([](Object* self, bool animated) {...})`.
template <class Signature, class Block>
IMP imp_implementationWithBlock(Block&& block) {
  auto* imp = new ImpOf<Signature>();
  imp->signature = &typeid(Signature);
  imp->call = std::forward<Block>(block);
  return detail::keepImplementation(imp);
}

/// The text of an implementation's signature (the compiler's encoding of `R(Args...)`); two
/// implementations may replace one another only when these agree.
std::string imp_getTypeEncoding(IMP imp);
/// The implementation as one of signature `Signature`, or null when it was made for another.
template <class Signature>
const ImpOf<Signature>* imp_cast(IMP imp) {
  if (imp == nullptr || !imp->hasSignature(typeid(Signature))) return nullptr;
  return static_cast<const ImpOf<Signature>*>(imp);
}

/// One entry of a class's method list.
struct objc_method {
  SEL name;
  IMP imp;
};
/// A method as found at one moment: replacing the method later does not change it.
using Method = const objc_method*;
SEL method_getName(Method method);
IMP method_getImplementation(Method method);
std::string method_getTypeEncoding(Method method);

/// The instance method `name` of `cls`, its own or the nearest inherited one; null when neither
/// the class nor a superclass has it. Lock-free; any thread.
Method class_getInstanceMethod(Class cls, SEL name);
/// The class method: the instance method of the metaclass.
Method class_getClassMethod(Class cls, SEL name);
/// The implementation a send of `name` to an instance of `cls` runs now; null when none.
IMP class_getMethodImplementation(Class cls, SEL name);
/// Whether instances of `cls` respond to `name`.
bool class_respondsToSelector(Class cls, SEL name);
/// Adds `imp` as the class's own method `name`. False when the class already has its own (an
/// inherited one is overridden), or on a null argument.
bool class_addMethod(Class cls, SEL name, IMP imp);
/// Sets the class's own implementation of `name` to `imp`. Returns the class's own previous
/// implementation, or null when the class only inherited the method or had none: the method is
/// then added to the class itself and the superclass keeps its own. Returns none (and changes
/// nothing) for a null argument or when `imp`'s signature differs from that of the method the
/// class has or inherits. Any thread; sends in flight on other threads finish on the list they
/// read.
std::optional<IMP> class_replaceMethod(Class cls, SEL name, IMP imp);

/// The path of the binary image that defined the class (a real ELF path: the executable or a
/// shared library); null for a null class.
const char* class_getImageName(Class cls);
/// The names of the classes defined by the image at `imagePath`, in registration order.
std::vector<std::string> copyClassNamesForImage(std::string_view imagePath);
/// True when `cls` is `parent` or inherits from it, as the platform's `isSubclassOfClass:`.
bool isSubclassOf(Class cls, Class parent);
/// True for a metaclass.
bool class_isMetaClass(Class cls);

/// The base of every C++ object the runtime can send messages to. Its class is the registered
/// class of its dynamic type, or of the nearest registered base of it, found on the first send.
/// Messages must not be sent to an object under construction.
class Object {
 public:
  Object() = default;
  Object(const Object& /*other*/) {}
  Object& operator=(const Object& /*other*/) { return *this; }
  virtual ~Object() = default;

 private:
  friend Class object_getClass(const Object* object);
  friend void object_setClass(Object* object, Class cls);
  mutable std::atomic<Class> isa_{nullptr};
};

/// The object's class; null for null.
Class object_getClass(const Object* object);
/// Makes `cls` the object's class from now on (a class defined at run time, such as one of
/// objc_defineClass; its methods then receive the object). Null restores the class of its type.
void object_setClass(Object* object, Class cls);
/// The object's class's name.
const char* object_getClassName(const Object* object);
bool respondsToSelector(const Object* object, SEL name);
/// True when the object's class is `cls` or inherits from it.
bool isKindOfClass(const Object* object, Class cls);

namespace detail {
IMP lookUpImp(Class cls, SEL name);
template <class Signature>
struct Message;
template <class R, class... Args>
struct Message<R(Args...)> {
  static R call(IMP found, Object* self, Args... args) {
    if (const auto* imp = imp_cast<R(Args...)>(found)) return imp->call(self, std::forward<Args>(args)...);
    if constexpr (!std::is_void_v<R>) return R{};
  }
};
}  // namespace detail

/// Sends `name` with signature `Signature` to `self`: looks the implementation up in the class
/// of `self` now, then calls it. A null receiver, a class without the method or a method of
/// another signature give the value-initialised result and call nothing.
///   msgSend<void(bool)>(controller, sel_registerName("viewWillAppear:"), animated);
template <class Signature, class... Args>
decltype(auto) msgSend(Object* self, SEL name, Args&&... args) {
  IMP imp = self != nullptr ? detail::lookUpImp(object_getClass(self), name) : nullptr;
  return detail::Message<Signature>::call(imp, self, std::forward<Args>(args)...);
}

/// Sends `name` to `self` as a method of `currentClass` calls its superclass's: the lookup starts
/// at the superclass of `currentClass`.
template <class Signature, class... Args>
decltype(auto) msgSendSuper(Object* self, Class currentClass, SEL name, Args&&... args) {
  IMP imp = self != nullptr ? detail::lookUpImp(class_getSuperclass(currentClass), name) : nullptr;
  return detail::Message<Signature>::call(imp, self, std::forward<Args>(args)...);
}

namespace detail {
/// Registers the C++ type `type` as a runtime class under `name` below the class of `superType`
/// (which may be registered later: the link is made then). `anchor` is an address in the image
/// that defines the class. Returns the existing class when `type` is registered already; null
/// when another type holds the name.
Class registerCxxClass(const char* name, const std::type_info& type, const std::type_info& superType,
                       bool (*isInstance)(const Object*), const void* anchor);
/// The class registered for `type` (`Object` is "NSObject"), or null.
Class classForType(const std::type_info& type);

template <class T>
bool isInstance(const Object* object) {
  return dynamic_cast<const T*>(object) != nullptr;
}
}  // namespace detail

/// The class registered for the C++ type `T`; null when it is not registered (yet).
template <class T>
Class classOf() {
  static std::atomic<Class> cached{nullptr};
  Class cls = cached.load(std::memory_order_acquire);
  if (cls == nullptr) {
    cls = detail::classForType(typeid(T));
    if (cls != nullptr) cached.store(cls, std::memory_order_release);
  }
  return cls;
}

template <class T, class Super>
Class registerClass(const char* name, const void* anchor) {
  static_assert(std::is_base_of_v<Object, T> && std::is_base_of_v<Super, T>,
                "a runtime class derives from runtime::Object and from its superclass's type");
  return detail::registerCxxClass(name, typeid(T), typeid(Super), &detail::isInstance<T>, anchor);
}

}  // namespace runtime

#define RUNTIME_CONCAT_INNER(a, b) a##b
#define RUNTIME_CONCAT(a, b) RUNTIME_CONCAT_INNER(a, b)
/// Registers the C++ type `Type` (deriving from `Super`, itself registered or `runtime::Object`)
/// as the runtime class `Name`, defined by the image this line is compiled into. At namespace
/// scope in one .cpp file.
#define RUNTIME_CLASS(Type, Super, Name)                                                        \
  namespace {                                                                                   \
  [[maybe_unused]] const ::runtime::Class RUNTIME_CONCAT(runtimeClass_, __LINE__) =             \
      ::runtime::registerClass<Type, Super>(Name, &RUNTIME_CONCAT(runtimeClass_, __LINE__));     \
  }                                                                                             \
  static_assert(true, "")
