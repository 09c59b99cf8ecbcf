#pragma once
#include <functional>
#include <memory>
#include <string>

#include "platform/runtime/Methods.h"

class DozidiDispatchQueueWrapper;
class DozidiDefaultObjCRuntimeWrapper;

/// Lists the view-controller classes one loaded image defines, for view-controller tracking.
class DozidiSubClassFinder {
 public:
  DozidiSubClassFinder(std::shared_ptr<DozidiDispatchQueueWrapper> dispatchQueue,
                       std::shared_ptr<DozidiDefaultObjCRuntimeWrapper> objcRuntimeWrapper);
  static std::shared_ptr<DozidiSubClassFinder> initWithDispatchQueue(
      std::shared_ptr<DozidiDispatchQueueWrapper> dispatchQueue,
      std::shared_ptr<DozidiDefaultObjCRuntimeWrapper> objcRuntimeWrapper);
  virtual ~DozidiSubClassFinder() = default;

  /// Scans the classes of the image at `imagePath` on the finder's queue, then calls `block` on the
  /// main queue once per subclass of "UIViewController" among them, in the runtime's order.
  virtual void actOnSubclassesOfViewControllerInImage(const std::string& imagePath,
                                                      std::function<void(runtime::Class)> block);
  /// True when `parent` is a proper superclass of `cls` (a class is not its own subclass); false
  /// for a missing class.
  static bool isClass(runtime::Class cls, runtime::Class parent);

  const std::shared_ptr<DozidiDispatchQueueWrapper>& dispatchQueue() const { return dispatchQueue_; }
  const std::shared_ptr<DozidiDefaultObjCRuntimeWrapper>& objcRuntimeWrapper() const { return objcRuntimeWrapper_; }

 private:
  std::shared_ptr<DozidiDispatchQueueWrapper> dispatchQueue_;
  std::shared_ptr<DozidiDefaultObjCRuntimeWrapper> objcRuntimeWrapper_;
};
