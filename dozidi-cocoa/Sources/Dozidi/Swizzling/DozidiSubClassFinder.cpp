#include "dozidi-cocoa/Sources/Dozidi/Swizzling/DozidiSubClassFinder.h"

#include <vector>

#include "dozidi-cocoa/Sources/Dozidi/DozidiDefaultObjCRuntimeWrapper.h"
#include "dozidi-cocoa/Sources/Dozidi/DozidiDispatchQueueWrapper.h"
#include "dozidi-cocoa/Sources/Dozidi/DozidiLog.h"

DozidiSubClassFinder::DozidiSubClassFinder(std::shared_ptr<DozidiDispatchQueueWrapper> dispatchQueue,
                                           std::shared_ptr<DozidiDefaultObjCRuntimeWrapper> objcRuntimeWrapper)
    : dispatchQueue_(std::move(dispatchQueue)), objcRuntimeWrapper_(std::move(objcRuntimeWrapper)) {}

std::shared_ptr<DozidiSubClassFinder> DozidiSubClassFinder::initWithDispatchQueue(
    std::shared_ptr<DozidiDispatchQueueWrapper> dispatchQueue,
    std::shared_ptr<DozidiDefaultObjCRuntimeWrapper> objcRuntimeWrapper) {
  return std::make_shared<DozidiSubClassFinder>(std::move(dispatchQueue), std::move(objcRuntimeWrapper));
}

void DozidiSubClassFinder::actOnSubclassesOfViewControllerInImage(const std::string& imagePath,
                                                                  std::function<void(runtime::Class)> block) {
  auto queue = dispatchQueue_;
  auto runtimeWrapper = objcRuntimeWrapper_;
  queue->dispatchAsyncWithBlock([queue, runtimeWrapper, imagePath, block = std::move(block)] {
    runtime::Class viewController = runtime::objc_getClass("UIViewController");
    if (viewController == nullptr) {
      DOZIDI_LOG_DEBUG("UIViewController class not found.");
      return;
    }
    std::vector<std::string> kept;
    for (const std::string& name : runtimeWrapper->copyClassNamesForImage(imagePath)) {
      if (isClass(runtime::objc_getClass(name.c_str()), viewController)) kept.push_back(name);
    }
    queue->dispatchAsyncOnMainQueue([kept = std::move(kept), block] {
      std::string joined;
      for (const std::string& name : kept) {
        if (block) block(runtime::objc_getClass(name.c_str()));
        joined += (joined.empty() ? "" : ", ") + name;
      }
      DOZIDI_LOG_DEBUG("The following UIViewControllers will generate automatic transactions: " + joined);
    });
  });
}

bool DozidiSubClassFinder::isClass(runtime::Class cls, runtime::Class parent) {
  if (cls == nullptr || parent == nullptr) return false;
  return runtime::isSubclassOf(runtime::class_getSuperclass(cls), parent);
}
