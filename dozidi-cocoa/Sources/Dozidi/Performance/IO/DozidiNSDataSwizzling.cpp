#include "dozidi-cocoa/Sources/Dozidi/Performance/IO/DozidiNSDataSwizzling.h"

#include "dozidi-cocoa/Sources/Dozidi/Performance/IO/DozidiNSDataTracker.h"
#include "dozidi-cocoa/Sources/Dozidi/Swizzling/DozidiSwizzle.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/URL.h"
#include "platform/runtime/NSData.h"

using foundation::Error;
using runtime::IMP;
using runtime::NSData;
using runtime::Object;

namespace {

using WriteAtomically = bool(const std::string&, bool);
using WriteOptions = bool(const std::string&, std::uint32_t, Error*);
using ReadFile = NSData*(const std::string&);
using ReadFileOptions = NSData*(const std::string&, std::uint32_t, Error*);
using ReadURL = NSData*(const foundation::URL&, std::uint32_t, Error*);

// The replacement keys: one per selector.
char kWriteAtomicallyKey;
char kWriteOptionsKey;
char kReadFileKey;
char kReadFileOptionsKey;
char kReadURLKey;

using Info = std::shared_ptr<DozidiSwizzleInfo>;

/// Calls the displaced implementation with signature `Signature`; the value-initialised result
/// when there is none (the swizzle engine never pairs an implementation with another signature).
template <class Signature>
struct Original;
template <class R, class... Args>
struct Original<R(Args...)> {
  static R call(const Info& info, Object* self, Args... args) {
    if (const auto* imp = info->getOriginalImplementationAs<R(Args...)>()) return imp->call(self, args...);
    return R{};
  }
};

void replace(runtime::SEL selector, const char* key, const DozidiSwizzleImpFactoryBlock& factory) {
  DozidiSwizzle::swizzleInstanceMethod(selector, runtime::classOf<NSData>(), factory,
                                       DozidiSwizzleModeOncePerClassAndSuperclasses, key);
}

void replaceMethods() {
  replace(NSData::writeToFileAtomicallySelector(), &kWriteAtomicallyKey, [](const Info& info) {
    return runtime::imp_implementationWithBlock<WriteAtomically>(
        [info](Object* self, const std::string& path, bool useAuxiliaryFile) {
          return DozidiNSDataTracker::sharedInstance()->measureNSData(
              static_cast<NSData*>(self)->data(), path, useAuxiliaryFile, [&](const std::string& p, bool a) {
                return Original<WriteAtomically>::call(info, self, p, a);
              });
        });
  });
  replace(NSData::writeToFileOptionsErrorSelector(), &kWriteOptionsKey, [](const Info& info) {
    return runtime::imp_implementationWithBlock<WriteOptions>(
        [info](Object* self, const std::string& path, std::uint32_t options, Error* error) {
          return DozidiNSDataTracker::sharedInstance()->measureNSData(
              static_cast<NSData*>(self)->data(), path, options, error,
              [&](const std::string& p, std::uint32_t o, Error* e) {
                return Original<WriteOptions>::call(info, self, p, o, e);
              });
        });
  });
  replace(NSData::initWithContentsOfFileOptionsErrorSelector(), &kReadFileOptionsKey,
          [](const Info& info) {
            return runtime::imp_implementationWithBlock<ReadFileOptions>(
                [info](Object* self, const std::string& path, std::uint32_t options, Error* error) {
                  return DozidiNSDataTracker::sharedInstance()->measureNSDataFromFile(
                      path, options, error, [&](const std::string& p, std::uint32_t o, Error* e) {
                        return Original<ReadFileOptions>::call(info, self, p, o, e);
                      });
                });
          });
  replace(NSData::initWithContentsOfFileSelector(), &kReadFileKey, [](const Info& info) {
    return runtime::imp_implementationWithBlock<ReadFile>([info](Object* self, const std::string& path) {
      return DozidiNSDataTracker::sharedInstance()->measureNSDataFromFile(
          path, [&](const std::string& p) { return Original<ReadFile>::call(info, self, p); });
    });
  });
  replace(NSData::initWithContentsOfURLOptionsErrorSelector(), &kReadURLKey, [](const Info& info) {
    return runtime::imp_implementationWithBlock<ReadURL>(
        [info](Object* self, const foundation::URL& url, std::uint32_t options, Error* error) {
          return DozidiNSDataTracker::sharedInstance()->measureNSDataFromURL(
              url, options, error, [&](const foundation::URL& u, std::uint32_t o, Error* e) {
                return Original<ReadURL>::call(info, self, u, o, e);
              });
        });
  });
}

}  // namespace

void DozidiNSDataSwizzling::start() {
  DozidiNSDataTracker::sharedInstance()->enable();
  replaceMethods();
}

void DozidiNSDataSwizzling::stop() { DozidiNSDataTracker::sharedInstance()->disable(); }
