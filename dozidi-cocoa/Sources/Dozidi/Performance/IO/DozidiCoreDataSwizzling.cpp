#include "dozidi-cocoa/Sources/Dozidi/Performance/IO/DozidiCoreDataSwizzling.h"

#include "dozidi-cocoa/Sources/Dozidi/Performance/IO/DozidiCoreDataMiddleware.h"
#include "dozidi-cocoa/Sources/Dozidi/Swizzling/DozidiSwizzle.h"
#include "platform/foundation/Error.h"

using coredata::ManagedObjects;
using coredata::NSFetchRequest;
using coredata::NSManagedObjectContext;
using foundation::Error;
using runtime::Object;

namespace {

using FetchSignature = std::optional<ManagedObjects>(const NSFetchRequest&, Error*);
using SaveSignature = bool(Error*);

char kFetchKey;
char kSaveKey;

void replaceMethods() {
  const auto cls = runtime::classOf<NSManagedObjectContext>();
  using Info = std::shared_ptr<DozidiSwizzleInfo>;
  DozidiSwizzle::swizzleInstanceMethod(
      NSManagedObjectContext::executeFetchRequestErrorSelector(), cls, [](const Info& info) {
        return runtime::imp_implementationWithBlock<FetchSignature>(
            [info](Object* self, const NSFetchRequest& request, Error* error) -> std::optional<ManagedObjects> {
              auto callOriginal = [&](Error* e) -> std::optional<ManagedObjects> {
                if (const auto* imp = info->getOriginalImplementationAs<FetchSignature>()) return imp->call(self, request, e);
                return std::nullopt;
              };
              auto middleware = DozidiCoreDataSwizzling::sharedInstance()->middleware();
              if (!middleware) return callOriginal(error);
              return middleware->managedObjectContext(*static_cast<NSManagedObjectContext*>(self), request, error,
                                                      callOriginal);
            });
      }, DozidiSwizzleModeOncePerClassAndSuperclasses, &kFetchKey);
  DozidiSwizzle::swizzleInstanceMethod(
      NSManagedObjectContext::saveSelector(), cls, [](const Info& info) {
        return runtime::imp_implementationWithBlock<SaveSignature>([info](Object* self, Error* error) {
          auto callOriginal = [&](Error* e) {
            const auto* imp = info->getOriginalImplementationAs<SaveSignature>();
            return imp && imp->call(self, e);
          };
          auto middleware = DozidiCoreDataSwizzling::sharedInstance()->middleware();
          if (!middleware) return callOriginal(error);
          return middleware->managedObjectContext(*static_cast<NSManagedObjectContext*>(self), error, callOriginal);
        });
      }, DozidiSwizzleModeOncePerClassAndSuperclasses, &kSaveKey);
}

}  // namespace

std::shared_ptr<DozidiCoreDataSwizzling> DozidiCoreDataSwizzling::sharedInstance() {
  // Never destroyed: swizzled methods reach it from any thread, also from threads that still
  // finish work while the process exits and runs its static destructors.
  static const auto* instance = new std::shared_ptr<DozidiCoreDataSwizzling>(std::make_shared<DozidiCoreDataSwizzling>());
  return *instance;
}

void DozidiCoreDataSwizzling::startWithMiddleware(std::shared_ptr<DozidiCoreDataMiddleware> middleware) {
  static std::once_flag replaced;
  std::call_once(replaced, replaceMethods);
  std::lock_guard guard(lock_);
  middleware_ = std::move(middleware);
}

void DozidiCoreDataSwizzling::stop() {
  std::lock_guard guard(lock_);
  middleware_.reset();
}

std::shared_ptr<DozidiCoreDataMiddleware> DozidiCoreDataSwizzling::middleware() const {
  std::lock_guard guard(lock_);
  return middleware_;
}
