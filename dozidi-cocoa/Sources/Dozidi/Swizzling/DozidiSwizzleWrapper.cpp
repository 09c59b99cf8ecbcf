#include "dozidi-cocoa/Sources/Dozidi/Swizzling/DozidiSwizzleWrapper.h"

#include <mutex>
#include <vector>

#include "dozidi-cocoa/Sources/Dozidi/Swizzling/DozidiSwizzle.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiLog.h"

namespace {

using SendActionSignature = bool(runtime::SEL, runtime::Object*, runtime::Object*, runtime::Object*);

struct Listeners {
  std::mutex lock;
  std::map<std::string, DozidiSwizzleSendActionCallback> byKey;
};

Listeners& listeners() {
  static auto* shared = new Listeners();
  return *shared;
}

// The wrapper's private swizzle key.
const char kSendActionSwizzleKey = 0;

void swizzleSendActionOfApplication() {
  runtime::Class application = runtime::objc_getClass("UIApplication");
  if (application == nullptr) {
    DOZIDI_LOG_DEBUG("UIApplication class not found: actions are not traced.");
    return;
  }
  DozidiSwizzle::swizzleInstanceMethod(
      runtime::sel_registerName("sendAction:to:from:forEvent:"), application,
      [](const std::shared_ptr<DozidiSwizzleInfo>& info) {
        return runtime::imp_implementationWithBlock<SendActionSignature>(
            [info](runtime::Object* self, runtime::SEL action, runtime::Object* target, runtime::Object* sender,
                   runtime::Object* event) {
              DozidiSwizzleWrapper::sendActionCalled(action, target, sender, event);
              const auto* original = info->getOriginalImplementationAs<SendActionSignature>();
              return original != nullptr && original->call(self, action, target, sender, event);
            });
      },
      DozidiSwizzleModeOncePerClassAndSuperclasses, &kSendActionSwizzleKey);
}

}  // namespace

std::shared_ptr<DozidiSwizzleWrapper> DozidiSwizzleWrapper::sharedInstance() {
  static const auto* instance = new std::shared_ptr<DozidiSwizzleWrapper>(std::make_shared<DozidiSwizzleWrapper>());
  return *instance;
}

void DozidiSwizzleWrapper::swizzleSendAction(DozidiSwizzleSendActionCallback callback, const std::string& key) {
  bool first = false;
  {
    Listeners& all = listeners();
    std::lock_guard<std::mutex> lock(all.lock);
    all.byKey[key] = std::move(callback);
    first = all.byKey.size() == 1;
  }
  // The swizzle's mode and key make this a no-op after the first time.
  if (first) swizzleSendActionOfApplication();
}

void DozidiSwizzleWrapper::removeSwizzleSendActionForKey(const std::string& key) {
  Listeners& all = listeners();
  std::lock_guard<std::mutex> lock(all.lock);
  all.byKey.erase(key);
}

void DozidiSwizzleWrapper::sendActionCalled(runtime::SEL action, runtime::Object* target, runtime::Object* sender,
                                            runtime::Object* event) {
  std::vector<DozidiSwizzleSendActionCallback> copy;
  {
    Listeners& all = listeners();
    std::lock_guard<std::mutex> lock(all.lock);
    copy.reserve(all.byKey.size());
    for (const auto& [key, callback] : all.byKey) copy.push_back(callback);
  }
  // Called outside the lock: a listener may add or remove listeners.
  std::string name = runtime::sel_getName(action);
  for (const auto& callback : copy) {
    if (callback) callback(name, target, sender, event);
  }
}

std::map<std::string, DozidiSwizzleSendActionCallback> DozidiSwizzleWrapper::swizzleSendActionCallbacks() {
  Listeners& all = listeners();
  std::lock_guard<std::mutex> lock(all.lock);
  return all.byKey;
}

void DozidiSwizzleWrapper::removeAllCallbacks() {
  Listeners& all = listeners();
  std::lock_guard<std::mutex> lock(all.lock);
  all.byKey.clear();
}

bool DozidiSwizzleWrapper::hasCallbacks() {
  Listeners& all = listeners();
  std::lock_guard<std::mutex> lock(all.lock);
  return !all.byKey.empty();
}
