#include "dozidi-cocoa/Sources/Dozidi/Performance/UIKit/DozidiUIViewControllerSwizzling.h"

#include <unistd.h>

#include <vector>

#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiOptions.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/UIKit/DozidiUIViewControllerPerformanceTracker.h"
#include "dozidi-cocoa/Sources/Dozidi/Swizzling/DozidiSubClassFinder.h"
#include "dozidi-cocoa/Sources/Dozidi/Swizzling/DozidiSwizzle.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiDispatchQueueWrapper.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiLog.h"
#include "platform/uikit/Application.h"
#include "platform/uikit/ViewController.h"

namespace {

using Tracker = DozidiUIViewControllerPerformanceTracker;
using Entry = void (Tracker::*)(uikit::UIViewController&, const Tracker::Callback&);

template <class... Args>
runtime::IMP lifecycleWrapper(std::shared_ptr<Tracker> tracker, Entry entry, std::shared_ptr<DozidiSwizzleInfo> info) {
  return runtime::imp_implementationWithBlock<void(Args...)>([tracker, entry, info](runtime::Object* self, Args... args) {
    auto callOriginal = [&] {
      if (const auto* original = info->getOriginalImplementationAs<void(Args...)>()) original->call(self, args...);
    };
    auto* controller = dynamic_cast<uikit::UIViewController*>(self);
    if (controller == nullptr) {
      callOriginal();
      return;
    }
    ((*tracker).*entry)(*controller, callOriginal);
  });
}

/// Replaces the lifecycle method `selectorName` of `cls` with a wrapper that calls the tracker's
/// `entry`. The selector itself is the key, so each class's method is replaced once.
template <class... Args>
bool swizzleLifecycle(runtime::Class cls, const char* selectorName, DozidiSwizzleMode mode,
                      const std::shared_ptr<Tracker>& tracker, Entry entry) {
  const runtime::SEL selector = runtime::sel_registerName(selectorName);
  return DozidiSwizzle::swizzleInstanceMethod(
      selector, cls,
      [&](const std::shared_ptr<DozidiSwizzleInfo>& info) { return lifecycleWrapper<Args...>(tracker, entry, info); },
      mode, selector);
}

/// The controller and every controller below it, the controller first, then its children
/// depth-first.
void collectDescendants(uikit::UIViewController& controller, std::vector<uikit::UIViewController*>& into) {
  into.push_back(&controller);
  for (const auto& child : controller.childViewControllers()) {
    if (child) collectDescendants(*child, into);
  }
}

/// The application's own image: the main program.
std::string mainProgramImage() {
  char path[4096];
  const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  return n > 0 ? std::string(path, static_cast<std::size_t>(n)) : std::string();
}

}  // namespace

std::shared_ptr<DozidiUIViewControllerSwizzling> DozidiUIViewControllerSwizzling::initWithOptions(
    const DozidiOptions& options, std::shared_ptr<DozidiDispatchQueueWrapper> dispatchQueue,
    std::shared_ptr<DozidiSubClassFinder> subClassFinder, std::shared_ptr<DozidiUIViewControllerPerformanceTracker> tracker) {
  return std::shared_ptr<DozidiUIViewControllerSwizzling>(new DozidiUIViewControllerSwizzling(
      DozidiInAppLogic(options.inAppIncludes, options.inAppExcludes), std::move(dispatchQueue), std::move(subClassFinder),
      std::move(tracker)));
}

DozidiUIViewControllerSwizzling::DozidiUIViewControllerSwizzling(
    DozidiInAppLogic inAppLogic, std::shared_ptr<DozidiDispatchQueueWrapper> dispatchQueue,
    std::shared_ptr<DozidiSubClassFinder> subClassFinder, std::shared_ptr<DozidiUIViewControllerPerformanceTracker> tracker)
    : inAppLogic_(std::move(inAppLogic)),
      dispatchQueue_(std::move(dispatchQueue)),
      subClassFinder_(std::move(subClassFinder)),
      tracker_(std::move(tracker)) {}

void DozidiUIViewControllerSwizzling::start() {
  auto& application = uikit::UIApplication::shared();
  if (!swizzleRootViewControllerFromUIApplication(application)) {
    DOZIDI_LOG_DEBUG("UIViewControllerSwizziling: Failed to find root UIViewController from the application's "
                     "windows. Scanning the app image only.");
  }
  // The application's own image: the main program, where the app delegate's class lives.
  const auto appImage = mainProgramImage();
  if (appImage.empty()) {
    DOZIDI_LOG_DEBUG("UIViewControllerSwizzling: App delegate is nil. Skipping swizzling UIViewControllers in the "
                     "app image.");
  } else {
    swizzleUIViewControllersOfAppImage(appImage);
  }
  swizzleUIViewController();
}

bool DozidiUIViewControllerSwizzling::swizzleRootViewControllerFromUIApplication(uikit::UIApplication& application) {
  bool found = false;
  for (const auto& window : application.windows()) {
    if (!window || !window->rootViewController()) continue;
    swizzleRootViewControllerAndDescendant(*window->rootViewController());
    found = true;
  }
  if (!found) {
    DOZIDI_LOG_DEBUG("UIViewControllerSwizziling: UIApplicationDelegate.window.rootViewController is nil. Skipping "
                     "swizzleRootViewControllerFromAppDelegate.");
  }
  return found;
}

void DozidiUIViewControllerSwizzling::swizzleRootViewControllerAndDescendant(uikit::UIViewController& root) {
  std::vector<uikit::UIViewController*> controllers;
  collectDescendants(root, controllers);
  for (auto* controller : controllers) {
    DOZIDI_LOG_DEBUG("UIViewControllerSwizziling Calling swizzleRootViewController.");
    const runtime::Class cls = runtime::object_getClass(controller);
    swizzleViewControllerSubClass(cls);
    swizzleUIViewControllersOfClassesInImageOf(cls);
  }
}

void DozidiUIViewControllerSwizzling::swizzleUIViewControllersOfClassesInImageOf(runtime::Class cls) {
  if (cls == nullptr) {
    DOZIDI_LOG_DEBUG("UIViewControllerSwizzling: class is NULL. Skipping swizzling of classes in same image.");
    return;
  }
  DOZIDI_LOG_DEBUG(std::string("UIViewControllerSwizzling: Class to get the image name: ") + runtime::class_getName(cls));
  const char* imageName = runtime::class_getImageName(cls);
  if (imageName == nullptr) {
    DOZIDI_LOG_DEBUG(std::string("UIViewControllerSwizziling: Wasn't able to get image name of the class: ") +
                     runtime::class_getName(cls) + ". Skipping swizzling of classes in same image.");
    return;
  }
  if (imageName[0] == '\0') {
    DOZIDI_LOG_DEBUG(std::string("UIViewControllerSwizziling: Wasn't able to get the app image name of the app "
                                 "delegate class: ") +
                     runtime::class_getName(cls) + ". Skipping swizzling of classes in same image.");
    return;
  }
  swizzleUIViewControllersOfImage(imageName);
}

void DozidiUIViewControllerSwizzling::swizzleUIViewControllersOfImage(const std::string& imagePath) {
  // The toolkit's own image: its controllers are the platform's, never the app's.
  const char* toolkitImage = runtime::class_getImageName(runtime::classOf<uikit::UIViewController>());
  if (imagePath.find("UIKitCore") != std::string::npos || (toolkitImage && imagePath == toolkitImage)) {
    DOZIDI_LOG_DEBUG("UIViewControllerSwizziling: Skipping UIKitCore.");
    return;
  }
  {
    std::lock_guard lock(imagesLock_);
    if (!imagesActedOnSubclassesOfUIViewControllers_.insert(imagePath).second) {
      DOZIDI_LOG_DEBUG("UIViewControllerSwizziling: Already swizzled UIViewControllers in image: " + imagePath + ".");
      return;
    }
  }
  std::weak_ptr<DozidiUIViewControllerSwizzling> weakSelf = weak_from_this();
  subClassFinder_->actOnSubclassesOfViewControllerInImage(imagePath, [weakSelf](runtime::Class cls) {
    if (auto self = weakSelf.lock()) self->swizzleViewControllerSubClass(cls);
  });
}

void DozidiUIViewControllerSwizzling::swizzleUIViewControllersOfAppImage(const std::string& imagePath) {
  {
    std::lock_guard lock(imagesLock_);
    if (!imagesActedOnSubclassesOfUIViewControllers_.insert(imagePath).second) return;
  }
  // Replaced before start returns, not later on the main queue: the app shows its first screen
  // right after starting the SDK, and a controller loaded before its class is replaced would
  // open a transaction at loadView that no viewDidAppear ever closes.
  const runtime::Class base = runtime::classOf<uikit::UIViewController>();
  std::string joined;
  for (const auto& name : runtime::copyClassNamesForImage(imagePath)) {
    const runtime::Class cls = runtime::objc_getClass(name.c_str());
    if (!DozidiSubClassFinder::isClass(cls, base)) continue;
    swizzleViewControllerSubClass(cls);
    joined += (joined.empty() ? "" : ", ") + name;
  }
  DOZIDI_LOG_DEBUG("The following UIViewControllers will generate automatic transactions: " + joined);
}

void DozidiUIViewControllerSwizzling::swizzleUIViewController() {
  swizzleLifecycle<>(runtime::classOf<uikit::UIViewController>(), "loadView", DozidiSwizzleModeOncePerClassAndSuperclasses,
                     tracker_, &Tracker::viewControllerLoadView);
}

bool DozidiUIViewControllerSwizzling::shouldSwizzleViewController(runtime::Class cls) const {
  if (cls == nullptr) return false;
  const char* image = runtime::class_getImageName(cls);
  return image != nullptr && inAppLogic_.isInApp(std::string_view(image));
}

void DozidiUIViewControllerSwizzling::swizzleViewControllerSubClass(runtime::Class cls) {
  if (!shouldSwizzleViewController(cls)) return;
  constexpr auto once = DozidiSwizzleModeOncePerClass;
  swizzleLifecycle<>(cls, "viewWillLayoutSubviews", once, tracker_, &Tracker::viewControllerViewWillLayoutSubViews);
  swizzleLifecycle<>(cls, "viewDidLayoutSubviews", once, tracker_, &Tracker::viewControllerViewDidLayoutSubViews);
  const auto loadView = runtime::sel_registerName("loadView");
  if (runtime::class_getMethodImplementation(cls, loadView) !=
      runtime::class_getMethodImplementation(runtime::classOf<uikit::UIViewController>(), loadView)) {
    swizzleLifecycle<>(cls, "loadView", once, tracker_, &Tracker::viewControllerLoadView);
  }
  swizzleLifecycle<>(cls, "viewDidLoad", once, tracker_, &Tracker::viewControllerViewDidLoad);
  swizzleLifecycle<bool>(cls, "viewWillAppear:", once, tracker_, &Tracker::viewControllerViewWillAppear);
  swizzleLifecycle<bool>(cls, "viewWillDisappear:", once, tracker_, &Tracker::viewControllerViewWillDisappear);
  swizzleLifecycle<bool>(cls, "viewDidAppear:", once, tracker_, &Tracker::viewControllerViewDidAppear);
}
