#pragma once
#include <memory>
#include <mutex>

class DozidiCoreDataMiddleware;

/// Replaces the managed-object context's `executeFetchRequest:error:` and `save:` (once per
/// process, never removed) with wrappers that hand each call to the middleware, or call straight
/// through when there is none. One shared instance; any thread.
class DozidiCoreDataSwizzling {
 public:
  static std::shared_ptr<DozidiCoreDataSwizzling> sharedInstance();

  /// Replaces the methods the first time, then uses `middleware` for every call.
  void startWithMiddleware(std::shared_ptr<DozidiCoreDataMiddleware> middleware);
  /// Forgets the middleware: the replaced methods call straight through.
  void stop();
  std::shared_ptr<DozidiCoreDataMiddleware> middleware() const;

 private:
  mutable std::mutex lock_;
  std::shared_ptr<DozidiCoreDataMiddleware> middleware_;
};
