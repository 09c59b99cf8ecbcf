#pragma once
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiInAppLogic.h"
#include "platform/runtime/Methods.h"

class DozidiDispatchQueueWrapper;
class DozidiOptions;
class DozidiSubClassFinder;
class DozidiUIViewControllerPerformanceTracker;
namespace uikit {
class UIApplication;
class UIViewController;
}  // namespace uikit

/// Finds the application's view-controller classes and replaces their lifecycle methods with
/// wrappers that measure them through `DozidiUIViewControllerPerformanceTracker`: the classes of
/// the controllers on screen at start, every view-controller class of their images, and those of
/// the main program's image (the app's own). Classes of the toolkit's own image, and of any image
/// outside the app, are never replaced; `loadView` of `UIViewController` itself is, once, so that
/// every in-app controller's loading opens its transaction.
///
/// `start` runs on the installing thread (the main thread in the app) and replaces the app
/// image's classes before it returns; other images are read on the dispatch queue and their
/// classes replaced on the main queue.
class DozidiUIViewControllerSwizzling : public std::enable_shared_from_this<DozidiUIViewControllerSwizzling> {
 public:
  static std::shared_ptr<DozidiUIViewControllerSwizzling> initWithOptions(
      const DozidiOptions& options, std::shared_ptr<DozidiDispatchQueueWrapper> dispatchQueue,
      std::shared_ptr<DozidiSubClassFinder> subClassFinder,
      std::shared_ptr<DozidiUIViewControllerPerformanceTracker> tracker);

  void start();

  /// Handles the root controllers of the application's windows; false when there is none.
  bool swizzleRootViewControllerFromUIApplication(uikit::UIApplication& application);
  /// Replaces the lifecycle methods of the root's class and of every controller below it, and
  /// scans the images of their classes.
  void swizzleRootViewControllerAndDescendant(uikit::UIViewController& root);
  /// Scans the image that defines `cls` (none: logged and skipped).
  void swizzleUIViewControllersOfClassesInImageOf(runtime::Class cls);
  /// Scans the image at `imagePath` once: every view-controller class in it gets its lifecycle
  /// methods replaced, on the main queue.
  void swizzleUIViewControllersOfImage(const std::string& imagePath);
  /// Replaces the lifecycle methods of the view-controller classes of the app's own image at
  /// once, on the calling thread.
  void swizzleUIViewControllersOfAppImage(const std::string& imagePath);
  /// Replaces `loadView` of `UIViewController` itself, once per process.
  void swizzleUIViewController();
  /// Replaces the lifecycle methods of an in-app class, each once per class.
  void swizzleViewControllerSubClass(runtime::Class cls);
  bool shouldSwizzleViewController(runtime::Class cls) const;

 private:
  DozidiUIViewControllerSwizzling(DozidiInAppLogic inAppLogic, std::shared_ptr<DozidiDispatchQueueWrapper> dispatchQueue,
                                  std::shared_ptr<DozidiSubClassFinder> subClassFinder,
                                  std::shared_ptr<DozidiUIViewControllerPerformanceTracker> tracker);

  DozidiInAppLogic inAppLogic_;
  std::shared_ptr<DozidiDispatchQueueWrapper> dispatchQueue_;
  std::shared_ptr<DozidiSubClassFinder> subClassFinder_;
  std::shared_ptr<DozidiUIViewControllerPerformanceTracker> tracker_;
  std::mutex imagesLock_;
  std::set<std::string> imagesActedOnSubclassesOfUIViewControllers_;
};
