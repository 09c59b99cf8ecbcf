#include "dozidi-cocoa/Sources/Dozidi/Performance/IO/detail/MethodReplacement.h"

#include <map>
#include <memory>
#include <mutex>
#include <set>

namespace dozidi_io::detail {

namespace {

struct Registry {
  std::mutex lock;
  std::map<const void*, std::set<runtime::Class>> replaced;
};

Registry& registry() {
  static auto* instance = new Registry();  // never destroyed: wrappers may run during exit
  return *instance;
}

/// The implementation a replacement displaced; none when the class only inherited the method,
/// and the wrapper then calls the superclass's implementation of the moment.
struct Displaced {
  std::mutex lock;
  runtime::IMP imp = nullptr;
};

}  // namespace

bool replaceInstanceMethodOnce(runtime::Class cls, runtime::SEL selector, const void* key,
                               const std::function<runtime::IMP(OriginalImplementation)>& factory) {
  if (!cls || !selector || !key) return false;
  auto& r = registry();
  std::lock_guard guard(r.lock);
  auto& classes = r.replaced[key];
  for (runtime::Class c = cls; c; c = runtime::class_getSuperclass(c))
    if (classes.count(c)) return false;
  if (!runtime::class_getInstanceMethod(cls, selector)) return false;

  auto displaced = std::make_shared<Displaced>();
  OriginalImplementation original = [displaced, cls, selector]() -> runtime::IMP {
    std::lock_guard lock(displaced->lock);
    if (displaced->imp) return displaced->imp;
    return runtime::class_getMethodImplementation(runtime::class_getSuperclass(cls), selector);
  };
  runtime::IMP wrapper = factory(std::move(original));
  std::lock_guard lock(displaced->lock);
  auto previous = runtime::class_replaceMethod(cls, selector, wrapper);
  if (!previous) return false;
  displaced->imp = *previous;
  classes.insert(cls);
  return true;
}

}  // namespace dozidi_io::detail
