#include "platform/uikit/Application.h"

#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <thread>

#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/uikit/Log.h"
#include "platform/uikit/ViewController.h"

extern char** environ;

RUNTIME_CLASS(uikit::UIApplication, runtime::Object, "UIApplication");

namespace uikit {

namespace {

// The action of the send under way on this thread, for the toolkit's implementation of
// "sendAction:to:from:forEvent:": a replacement calls that implementation with the same
// arguments, and the action the control registered must still be the one that runs.
thread_local const std::function<void()>* tPendingAction = nullptr;

runtime::SEL sendActionSelector() {
  static const runtime::SEL selector = runtime::sel_registerName("sendAction:to:from:forEvent:");
  return selector;
}

using SendActionSignature = bool(runtime::SEL, runtime::Object*, runtime::Object*, runtime::Object*);

bool performAction(runtime::Object* /*application*/, runtime::SEL action, runtime::Object* target,
                   runtime::Object* sender, runtime::Object* /*event*/) {
  if (const auto* perform = tPendingAction; perform != nullptr && *perform) {
    (*perform)();
    return true;
  }
  if (target == nullptr) return false;
  runtime::IMP imp = runtime::class_getMethodImplementation(runtime::object_getClass(target), action);
  if (const auto* method = runtime::imp_cast<void(runtime::Object*)>(imp)) {
    method->call(target, sender);
    return true;
  }
  return false;
}

[[maybe_unused]] const bool kApplicationMethodsAdded = runtime::class_addMethod(
    runtime::classOf<UIApplication>(), sendActionSelector(),
    runtime::imp_implementationWithBlock<SendActionSignature>(performAction));

}  // namespace

bool UIApplication::sendAction(runtime::SEL action, runtime::Object* target, runtime::Object* sender,
                               runtime::Object* event, const std::function<void()>& perform) {
  const std::function<void()>* outer = tPendingAction;
  tPendingAction = &perform;
  bool performed = runtime::msgSend<SendActionSignature>(this, sendActionSelector(), action, target, sender, event);
  tPendingAction = outer;
  return performed;
}

UIScreen& UIScreen::main() {
  static UIScreen screen;
  return screen;
}

UIDevice& UIDevice::current() {
  static UIDevice device;
  return device;
}

bool UIDevice::isAtLeast(int major, int minor) const {
  int haveMajor = 0, haveMinor = 0;
  std::sscanf(systemVersion.c_str(), "%d.%d", &haveMajor, &haveMinor);
  return haveMajor > major || (haveMajor == major && haveMinor >= minor);
}

std::shared_ptr<UIWindowScene> UIWindowScene::create(UISceneActivationState state, const CGRect& bounds) {
  auto scene = std::make_shared<UIWindowScene>();
  scene->activationState = state;
  scene->coordinateSpaceBounds = bounds;
  return scene;
}

std::vector<std::shared_ptr<UIWindow>> UIWindowScene::windows() const {
  std::vector<std::shared_ptr<UIWindow>> out;
  for (auto& w : windows_)
    if (auto strong = w.lock()) out.push_back(strong);
  return out;
}

foundation::Value boxRect(const CGRect& rect) {
  return foundation::Value(foundation::Opaque{std::make_shared<const CGRect>(rect), "NSValue"});
}

std::optional<CGRect> unboxRect(const foundation::Value& value) {
  const auto* opaque = value.opaque();
  if (!opaque || opaque->typeName != "NSValue" || !opaque->object) return std::nullopt;
  return *static_cast<const CGRect*>(opaque->object.get());
}

// Windows.

void UIWindow::setRootViewController(std::shared_ptr<UIViewController> controller) {
  if (root_ == controller) return;
  if (root_ && root_->isViewLoaded() && root_->view()->superviewPointer() == this) {
    if (root_->isAppeared()) {
      root_->beginAppearanceTransition(false, false);
      root_->endAppearanceTransition();
    }
    root_->view()->removeFromSuperview();
  }
  root_ = std::move(controller);
  if (!root_) return;
  const auto& view = root_->view();
  view->setFrame(bounds());
  view->autoresizingMask = UIViewAutoresizingFlexibleWidth | UIViewAutoresizingFlexibleHeight;
  bool showing = isVisible();
  if (showing) root_->beginAppearanceTransition(true, false);
  addSubview(view);
  layoutIfNeeded();
  if (showing) root_->endAppearanceTransition();
}

void UIWindow::makeKeyAndVisible() {
  setVisible(true);
  makeKeyWindow();
}

void UIWindow::makeKeyWindow() {
  auto self = std::static_pointer_cast<UIWindow>(shared_from_this());
  UIApplication::shared().makeKey(self);
}

bool UIWindow::isKeyWindow() const { return UIApplication::shared().keyWindow().get() == this; }

void UIWindow::setVisible(bool visible) {
  if (visible == isVisible()) return;
  auto self = std::static_pointer_cast<UIWindow>(shared_from_this());
  if (visible) {
    setHidden(false);
    if (frame().size.width == 0 && frame().size.height == 0) setFrame(UIScreen::main().bounds());
    UIApplication::shared().windowBecameVisible(self);
    // The platform's order: will appear, the layout of the view, did appear.
    if (root_) {
      root_->beginAppearanceTransition(true, false);
      if (root_->isViewLoaded()) root_->view()->setNeedsLayout();
    }
    layoutIfNeeded();
    if (root_) root_->endAppearanceTransition();
  } else {
    setHidden(true);
    UIApplication::shared().windowBecameHidden(this);
    if (root_ && root_->isAppeared()) {
      root_->beginAppearanceTransition(false, false);
      root_->endAppearanceTransition();
    }
  }
}

void UIWindow::setWindowScene(const std::shared_ptr<UIWindowScene>& scene) {
  if (auto old = scene_.lock()) {
    auto& list = old->windows_;
    list.erase(std::remove_if(list.begin(), list.end(),
                              [this](const std::weak_ptr<UIWindow>& w) { return w.expired() || w.lock().get() == this; }),
               list.end());
  }
  scene_ = scene;
  if (scene) {
    scene->windows_.push_back(std::static_pointer_cast<UIWindow>(shared_from_this()));
    if (frame().size.width == 0 && frame().size.height == 0) setFrame(scene->coordinateSpaceBounds);
  }
}

std::shared_ptr<UIView> UIWindow::hitTestScreenPoint(CGPoint screenPoint) {
  // A window is the root of its tree: its frame is its place on the screen.
  CGPoint local{screenPoint.x - frame().origin.x + bounds().origin.x, screenPoint.y - frame().origin.y + bounds().origin.y};
  return hitTest(local);
}

// The application.

UIApplication& UIApplication::shared() {
  static UIApplication application;
  return application;
}

void UIApplication::reset() {
  visible_.clear();
  keyWindow_.reset();
  scenes_.clear();
  state_ = UIApplicationState::Active;
  opener_ = nullptr;
  statusBarUpdateRequests = 0;
}

std::vector<std::shared_ptr<UIWindow>> UIApplication::windows() const {
  std::vector<std::shared_ptr<UIWindow>> out;
  for (auto& w : visible_)
    if (auto strong = w.lock(); strong && strong->isVisible()) out.push_back(strong);
  std::stable_sort(out.begin(), out.end(), [](const auto& a, const auto& b) {
    if (a->windowLevel() != b->windowLevel()) return a->windowLevel() < b->windowLevel();
    return a->visibleOrder() < b->visibleOrder();
  });
  return out;
}

std::shared_ptr<UIView> UIApplication::hitTest(CGPoint screenPoint) const {
  auto list = windows();
  for (auto it = list.rbegin(); it != list.rend(); ++it)
    if (auto hit = (*it)->hitTestScreenPoint(screenPoint)) return hit;
  return nullptr;
}

void UIApplication::connectScene(const std::shared_ptr<UIWindowScene>& scene) {
  if (std::find(scenes_.begin(), scenes_.end(), scene) == scenes_.end()) scenes_.push_back(scene);
}

void UIApplication::windowBecameVisible(const std::shared_ptr<UIWindow>& window) {
  window->visibleOrder_ = nextOrder_++;
  visible_.erase(std::remove_if(visible_.begin(), visible_.end(),
                                [&](const std::weak_ptr<UIWindow>& w) { return w.expired() || w.lock() == window; }),
                 visible_.end());
  visible_.push_back(window);
}

void UIApplication::windowBecameHidden(const UIWindow* window) {
  const_cast<UIWindow*>(window)->visibleOrder_ = 0;
  visible_.erase(std::remove_if(visible_.begin(), visible_.end(),
                                [&](const std::weak_ptr<UIWindow>& w) { return w.expired() || w.lock().get() == window; }),
                 visible_.end());
  if (keyWindow_.lock().get() == window) keyWindow_.reset();
}

void UIApplication::makeKey(const std::shared_ptr<UIWindow>& window) { keyWindow_ = window; }

void UIApplication::post(const char* name) { foundation::NotificationCenter::defaultCenter().post(name); }

void UIApplication::setApplicationState(UIApplicationState state) {
  if (state == state_) return;
  auto from = state_;
  state_ = state;
  using S = UIApplicationState;
  if (from == S::Active) post(UIApplicationWillResignActiveNotification);
  if (state == S::Background) {
    post(UIApplicationDidEnterBackgroundNotification);
    return;
  }
  if (from == S::Background) post(UIApplicationWillEnterForegroundNotification);
  if (state == S::Active) post(UIApplicationDidBecomeActiveNotification);
}

void UIApplication::openURL(const std::string& url, const foundation::Dictionary& options,
                            std::function<void(bool)> completion) {
  auto finish = [completion = std::move(completion)](bool opened) {
    if (completion) dispatch::DispatchQueue::main()->async([completion, opened] { completion(opened); });
  };
  if (opener_) {
    opener_(url, options, finish);
    return;
  }
  openWithDesktopOpener(url, finish);
}

void openWithDesktopOpener(const std::string& url, std::function<void(bool)> completion) {
  bool web = url.rfind("http://", 0) == 0 || url.rfind("https://", 0) == 0 || url.rfind("mailto:", 0) == 0;
  if (!web) {
    if (completion) completion(false);
    return;
  }
  // The address goes as one argument vector entry, never through a shell.
  const char* argv[] = {"xdg-open", url.c_str(), nullptr};
  pid_t pid = 0;
  int rc = posix_spawnp(&pid, "xdg-open", nullptr, nullptr, const_cast<char* const*>(argv), environ);
  if (rc != 0) {
    UIKitLog::write("Could not start xdg-open for " + url);
    if (completion) completion(false);
    return;
  }
  // Reap the opener without blocking the caller.
  std::thread([pid] {
    int status = 0;
    waitpid(pid, &status, 0);
  }).detach();
  if (completion) completion(true);
}

UIStatusBarStyle UIApplication::statusBarStyle() const {
  auto window = keyWindow();
  if (!window || !window->rootViewController()) return UIStatusBarStyle::Default;
  UIViewController* c = window->rootViewController().get();
  while (c->presentedViewController()) c = c->presentedViewController().get();
  while (auto* child = c->childViewControllerForStatusBarStyle()) c = child;
  return c->preferredStatusBarStyle();
}

bool UIApplication::isStatusBarHidden() const {
  auto window = keyWindow();
  if (!window || !window->rootViewController()) return false;
  UIViewController* c = window->rootViewController().get();
  while (c->presentedViewController()) c = c->presentedViewController().get();
  while (auto* child = c->childViewControllerForStatusBarStyle()) c = child;
  return c->prefersStatusBarHidden();
}

}  // namespace uikit
