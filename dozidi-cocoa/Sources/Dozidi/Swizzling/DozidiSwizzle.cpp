#include "dozidi-cocoa/Sources/Dozidi/Swizzling/DozidiSwizzle.h"

#include <map>
#include <mutex>
#include <set>

#include "dozidi-cocoa/Sources/Dozidi/DozidiLog.h"

namespace {

// The classes swizzled under each key. Its lock serialises whole swizzle operations; recursive,
// so that a factory may swizzle in turn.
struct SwizzledClasses {
  std::recursive_mutex lock;
  std::map<const void*, std::set<runtime::Class>> byKey;
};

SwizzledClasses& swizzledClasses() {
  static auto* registry = new SwizzledClasses();
  return *registry;
}

// Guards each swizzle's displaced implementation: written at replacement, read by the provider on
// every call of a replacement, from any thread.
std::mutex& displacedImplementationLock() {
  static auto* mutex = new std::mutex();
  return *mutex;
}

bool refusedByGuard(const std::set<runtime::Class>& swizzled, runtime::Class cls, DozidiSwizzleMode mode) {
  switch (mode) {
    case DozidiSwizzleModeAlways:
      return false;
    case DozidiSwizzleModeOncePerClass:
      return swizzled.contains(cls);
    case DozidiSwizzleModeOncePerClassAndSuperclasses:
      for (runtime::Class c = cls; c != nullptr; c = runtime::class_getSuperclass(c)) {
        if (swizzled.contains(c)) return true;
      }
      return false;
  }
  return false;
}

}  // namespace

runtime::IMP DozidiSwizzleInfo::getOriginalImplementation() const {
  if (!impProviderBlock_) {
    DOZIDI_LOG_ERROR("_impProviderBlock can't be missing");
    return nullptr;
  }
  return impProviderBlock_();
}

bool DozidiSwizzle::swizzleInstanceMethod(runtime::SEL selector, runtime::Class cls,
                                          const DozidiSwizzleImpFactoryBlock& factory, DozidiSwizzleMode mode,
                                          const void* key) {
  if (mode != DozidiSwizzleModeAlways && key == nullptr) {
    DOZIDI_LOG_ERROR("Key may not be NULL if mode is not DozidiSwizzleModeAlways.");
    return false;
  }
  if (selector == nullptr || cls == nullptr || !factory) {
    DOZIDI_LOG_ERROR("cannot swizzle a method: the selector, the class and the factory are required");
    return false;
  }

  SwizzledClasses& registry = swizzledClasses();
  std::lock_guard<std::recursive_mutex> guard(registry.lock);
  std::set<runtime::Class>* swizzled = key != nullptr ? &registry.byKey[key] : nullptr;
  if (swizzled != nullptr && refusedByGuard(*swizzled, cls, mode)) return false;

  runtime::Method method = runtime::class_getInstanceMethod(cls, selector);
  if (method == nullptr) {
    DOZIDI_LOG_ERROR(std::string("Selector ") + runtime::sel_getName(selector) + " not found in " +
                     (runtime::class_isMetaClass(cls) ? "class" : "instance") + " methods of class " +
                     runtime::class_getName(cls) + ".");
    return false;
  }

  // What the replacement displaced; none while the class only inherits the method, and then the
  // superclass's implementation is looked up on each call, so a later change there is seen.
  auto displaced = std::make_shared<runtime::IMP>(nullptr);
  auto info = std::make_shared<DozidiSwizzleInfo>();
  info->selector = selector;
  info->setImpProviderBlock([displaced, cls, selector]() -> runtime::IMP {
    runtime::IMP imp = nullptr;
    {
      std::lock_guard<std::mutex> lock(displacedImplementationLock());
      imp = *displaced;
    }
    if (imp != nullptr) return imp;
    return runtime::class_getMethodImplementation(runtime::class_getSuperclass(cls), selector);
  });

  runtime::IMP replacement = factory(info);
  if (replacement == nullptr || !replacement->hasSignature(*runtime::method_getImplementation(method)->signature)) {
    // Called with arguments it does not take, the replacement would read garbage.
    DOZIDI_LOG_ERROR(std::string("cannot swizzle ") + runtime::sel_getName(selector) + " of class " +
                     runtime::class_getName(cls) + ": the new implementation's signature " +
                     runtime::imp_getTypeEncoding(replacement) + " differs from the method's " +
                     runtime::method_getTypeEncoding(method));
    return false;
  }
  {
    std::lock_guard<std::mutex> lock(displacedImplementationLock());
    std::optional<runtime::IMP> previous = runtime::class_replaceMethod(cls, selector, replacement);
    if (!previous) return false;
    *displaced = *previous;
  }
  if (swizzled != nullptr) swizzled->insert(cls);
  return true;
}

bool DozidiSwizzle::swizzleClassMethod(runtime::SEL selector, runtime::Class cls,
                                       const DozidiSwizzleImpFactoryBlock& factory) {
  return swizzleInstanceMethod(selector, cls != nullptr ? cls->isa : nullptr, factory, DozidiSwizzleModeAlways, nullptr);
}
