#pragma once
#include <functional>
#include <memory>

#include "platform/runtime/Methods.h"

/// How often one swizzle site may replace a method.
enum DozidiSwizzleMode : int {
  /// Replace on every call.
  DozidiSwizzleModeAlways = 0,
  /// At most once per class and key.
  DozidiSwizzleModeOncePerClass = 1,
  /// Not when the class or any of its superclasses was already swizzled under the key.
  DozidiSwizzleModeOncePerClassAndSuperclasses = 2,
};

/// What a replacement needs to call on: the swizzled selector and the implementation it displaced.
class DozidiSwizzleInfo {
 public:
  runtime::SEL selector = nullptr;

  /// The provider of the displaced implementation (copied on assignment).
  void setImpProviderBlock(std::function<runtime::IMP()> provider) { impProviderBlock_ = std::move(provider); }
  const std::function<runtime::IMP()>& impProviderBlock() const { return impProviderBlock_; }

  /// The implementation the replacement must call on, looked up now: the displaced one, or, when
  /// the class only inherited the method, its superclass's at this moment. None without a
  /// provider (reported).
  runtime::IMP getOriginalImplementation() const;
  /// The same as an implementation of `Signature`; none when it has another signature.
  template <class Signature>
  const runtime::ImpOf<Signature>* getOriginalImplementationAs() const {
    return runtime::imp_cast<Signature>(getOriginalImplementation());
  }

 private:
  std::function<runtime::IMP()> impProviderBlock_;
};

/// Makes the replacing implementation (with `runtime::imp_implementationWithBlock`, a callable
/// taking the receiver and the method's own arguments) from the swizzle's info.
using DozidiSwizzleImpFactoryBlock = std::function<runtime::IMP(const std::shared_ptr<DozidiSwizzleInfo>& info)>;

/// The one engine that replaces methods of classes at run time, with a guard against replacing
/// twice for one class under one key. Replacements are never removed. Any thread: whole swizzle
/// operations run one at a time.
class DozidiSwizzle {
 public:
  DozidiSwizzle() = delete;

  /// Replaces the instance method `selector` of `cls` (its own or an inherited one) with the
  /// implementation `factory` makes. `key` is an address private to the caller, compared by
  /// identity; modes other than `DozidiSwizzleModeAlways` need one. True when the method was
  /// replaced; false when the mode's guard refused, the arguments were refused, the class has no
  /// such method, or the new implementation's signature differs from the method's (each reported
  /// but the guard).
  static bool swizzleInstanceMethod(runtime::SEL selector, runtime::Class cls, const DozidiSwizzleImpFactoryBlock& factory,
                                    DozidiSwizzleMode mode, const void* key);
  /// The same for a class method (on the class's metaclass), mode `DozidiSwizzleModeAlways`, no key.
  static bool swizzleClassMethod(runtime::SEL selector, runtime::Class cls, const DozidiSwizzleImpFactoryBlock& factory);
};
