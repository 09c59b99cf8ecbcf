#include "dozidi-cocoa/Sources/Dozidi/Breadcrumbs/DozidiBreadcrumbTracker.h"

#include <atomic>
#include <cstdio>

#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiHub.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiSDK.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/UIKit/DozidiUIViewControllerSanitizer.h"
#include "dozidi-cocoa/Sources/Dozidi/Scope/DozidiBreadcrumb.h"
#include "dozidi-cocoa/Sources/Dozidi/Scope/DozidiScope.h"
#include "dozidi-cocoa/Sources/Dozidi/Swizzling/DozidiSwizzle.h"
#include "dozidi-cocoa/Sources/Dozidi/Swizzling/DozidiSwizzleWrapper.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiNSNotificationCenterWrapper.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/uikit/Button.h"
#include "platform/uikit/Event.h"
#include "platform/uikit/ViewController.h"
#include "platform/uikit/Window.h"

using foundation::Dictionary;

namespace {

/// Lifecycle, memory, touch and screen breadcrumbs describe the app to its client; without one
/// they are dropped.
bool hasClient() { return DozidiSDK::currentHub()->getClient() != nullptr; }

void addLifecycleBreadcrumb(const char* state) {
  if (!hasClient()) return;
  auto crumb = DozidiBreadcrumb::initWithLevel(DozidiEventLevel::Info, "app.lifecycle");
  crumb->type = "navigation";
  crumb->data = Dictionary{{"state", state}};
  DozidiSDK::addBreadcrumb(std::move(crumb));
}

void addLowMemoryBreadcrumb() {
  if (!hasClient()) return;
  auto crumb = DozidiBreadcrumb::initWithLevel(DozidiEventLevel::Warning, "device.event");
  crumb->type = "system";
  crumb->message = "Low memory";
  crumb->data = Dictionary{{"action", "LOW_MEMORY"}};
  DozidiSDK::addBreadcrumb(std::move(crumb));
}

void addTouchBreadcrumb(const std::string& action, runtime::Object* event) {
  if (!hasClient()) return;
  std::optional<Dictionary> data;
  if (const auto* touchEvent = dynamic_cast<const uikit::UIEvent*>(event)) {
    // The touch that ended (or was cancelled) is the one that triggered the action.
    for (const auto& touch : touchEvent->allTouches()) {
      const auto phase = touch->phase();
      if ((phase == uikit::UITouchPhase::Ended || phase == uikit::UITouchPhase::Cancelled) && touch->view())
        data = DozidiBreadcrumbTracker::extractDataFromView(*touch->view());
    }
  }
  auto crumb = DozidiBreadcrumb::initWithLevel(DozidiEventLevel::Info, "touch");
  crumb->type = "user";
  crumb->message = action;
  crumb->data = std::move(data);
  DozidiSDK::addBreadcrumb(std::move(crumb));
}

void addScreenBreadcrumb(const uikit::UIViewController& controller) {
  if (!hasClient()) return;
  auto crumb = DozidiBreadcrumb::initWithLevel(DozidiEventLevel::Info, "ui.lifecycle");
  crumb->type = "navigation";
  Dictionary data = DozidiBreadcrumbTracker::fetchInfoAboutViewController(controller);
  const foundation::Value screen = data["screen"];
  crumb->data = std::move(data);
  DozidiSDK::addBreadcrumb(std::move(crumb));
  // The screen names events that have no transaction of their own.
  DozidiSDK::configureScope([&](DozidiScope& scope) { scope.setExtraValue(screen, "__dozidi_transaction"); });
}

/// Whether the "viewDidAppear:" replacement records: the replacement outlives the trackers that
/// made it, and records only while one of them is swizzled.
std::atomic<int>& swizzledTrackers() {
  static std::atomic<int> count{0};
  return count;
}

// The tracker's private swizzle key.
const char kViewDidAppearSwizzleKey = 0;

using ViewDidAppearSignature = void(bool);

void swizzleViewDidAppear() {
  DozidiSwizzle::swizzleInstanceMethod(
      runtime::sel_registerName("viewDidAppear:"), runtime::classOf<uikit::UIViewController>(),
      [](const std::shared_ptr<DozidiSwizzleInfo>& info) {
        return runtime::imp_implementationWithBlock<ViewDidAppearSignature>([info](runtime::Object* self, bool animated) {
          if (swizzledTrackers().load() > 0)
            if (const auto* controller = dynamic_cast<const uikit::UIViewController*>(self))
              addScreenBreadcrumb(*controller);
          if (const auto* original = info->getOriginalImplementationAs<ViewDidAppearSignature>())
            original->call(self, animated);
        });
      },
      DozidiSwizzleModeOncePerClassAndSuperclasses, &kViewDidAppearSwizzleKey);
}

std::string sanitizedName(const uikit::UIViewController& controller) {
  return DozidiUIViewControllerSanitizer::sanitizeViewControllerName(controller);
}

}  // namespace

std::shared_ptr<DozidiBreadcrumbTracker> DozidiBreadcrumbTracker::create(
    std::shared_ptr<DozidiNSNotificationCenterWrapper> notificationCenter,
    std::shared_ptr<DozidiSwizzleWrapper> swizzleWrapper) {
  return std::shared_ptr<DozidiBreadcrumbTracker>(
      new DozidiBreadcrumbTracker(std::move(notificationCenter), std::move(swizzleWrapper)));
}

DozidiBreadcrumbTracker::~DozidiBreadcrumbTracker() { stop(); }

void DozidiBreadcrumbTracker::start() {
  auto started = DozidiBreadcrumb::initWithLevel(DozidiEventLevel::Info, "started");
  started->type = "debug";
  started->message = "Breadcrumb Tracking";
  DozidiSDK::addBreadcrumb(std::move(started));

  notificationCenter_->addObserver(this, kDozidiDidReceiveMemoryWarningNotification,
                                   [](const foundation::Notification&) { addLowMemoryBreadcrumb(); });
  notificationCenter_->addObserver(this, kDozidiAppDidEnterBackgroundNotification,
                                   [](const foundation::Notification&) { addLifecycleBreadcrumb("background"); });
  notificationCenter_->addObserver(this, kDozidiAppDidBecomeActiveNotification,
                                   [](const foundation::Notification&) { addLifecycleBreadcrumb("foreground"); });
}

void DozidiBreadcrumbTracker::startSwizzle() {
  swizzleWrapper_->swizzleSendAction(
      [](const std::string& action, runtime::Object*, runtime::Object*, runtime::Object* event) {
        addTouchBreadcrumb(action, event);
      },
      kSwizzleSendActionKey);
  if (!swizzled_) {
    swizzled_ = true;
    swizzledTrackers().fetch_add(1);
  }
  swizzleViewDidAppear();
}

void DozidiBreadcrumbTracker::stop() {
  notificationCenter_->removeObserver(this);
  if (swizzled_) {
    swizzled_ = false;
    swizzleWrapper_->removeSwizzleSendActionForKey(kSwizzleSendActionKey);
    swizzledTrackers().fetch_sub(1);
  }
}

Dictionary DozidiBreadcrumbTracker::extractDataFromView(const uikit::UIView& view) {
  Dictionary data{{"view", view.description()}};
  if (view.tag >= 1) data.set("tag", view.tag);
  if (!view.accessibilityIdentifier.empty()) data.set("accessibilityIdentifier", view.accessibilityIdentifier);
  if (const auto* button = dynamic_cast<const uikit::UIButton*>(&view)) {
    std::string title = button->titleForState(button->state());
    if (!title.empty()) data.set("title", std::move(title));
  }
  return data;
}

Dictionary DozidiBreadcrumbTracker::fetchInfoAboutViewController(const uikit::UIViewController& controller) {
  Dictionary info{{"screen", sanitizedName(controller)}};
  if (!controller.navigationItem.title.empty())
    info.set("title", controller.navigationItem.title);
  else if (!controller.title.empty())
    info.set("title", controller.title);
  info.set("beingPresented", controller.isBeingPresented() ? "true" : "false");
  if (auto presenting = controller.presentingViewController())
    info.set("presentingViewController", sanitizedName(*presenting));
  if (auto parent = controller.parentViewController()) info.set("parentViewController", sanitizedName(*parent));
  // Only a loaded view can be in a window: asking for the view would load it.
  const uikit::UIWindow* window = controller.isViewLoaded() ? controller.viewIfLoaded()->window() : nullptr;
  if (window) {
    info.set("window", window->description());
    info.set("window_isKeyWindow", window->isKeyWindow() ? "true" : "false");
    char level[64];
    std::snprintf(level, sizeof level, "%f", window->windowLevel());
    info.set("window_windowLevel", level);
    info.set("is_window_rootViewController", window->rootViewController().get() == &controller ? "true" : "false");
  }
  return info;
}
