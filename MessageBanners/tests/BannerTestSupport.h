#pragma once
// Test support for the queue manager: identifiable card messages and an app with a key window.

#include <memory>
#include <string>

#include "MessageBanners/BaseView.h"
#include "MessageBanners/Identifiable.h"
#include "platform/uikit/Application.h"
#include "platform/uikit/ViewController.h"
#include "platform/uikit/Window.h"

namespace MessageBanners::testing_support {

/// A full-width message, 100 points tall, with a 20-point inset card as its background, and an
/// identity of its own.
class CardMessage : public BaseView, public Identifiable {
 public:
  static std::shared_ptr<CardMessage> create(std::string id) {
    std::shared_ptr<CardMessage> view(new CardMessage(std::move(id)));
    view->initBaseView({});
    view->heightAnchor().constraintEqualToConstant(100)->setActive(true);
    auto card = uikit::UIView::create();
    card->setBackgroundColor(uikit::UIColor{0.2, 0.45, 0.9, 1});
    view->installBackground(card, {10, 20, 10, 20});
    return view;
  }
  std::string id() const override { return id_; }

 private:
  explicit CardMessage(std::string id) : id_(std::move(id)) {}
  std::string id_;
};

/// An app: one foreground scene of 390 x 844 with a key window whose root controller's view
/// holds a full-screen button-like view that counts taps reaching it.
struct TestApp {
  TestApp() {
    uikit::UIApplication::shared().reset();
    uikit::UIScreen::main().setBounds({0, 0, 390, 844});
    scene = uikit::UIWindowScene::create(uikit::UISceneActivationState::ForegroundActive, {0, 0, 390, 844});
    uikit::UIApplication::shared().connectScene(scene);
    window = uikit::UIWindow::create({0, 0, 390, 844});
    window->setWindowScene(scene);
    root = std::make_shared<uikit::UIViewController>();
    window->setRootViewController(root);
    root->view()->setBackgroundColor(uikit::UIColor::whiteColor());
    window->makeKeyAndVisible();
    window->layoutIfNeeded();
  }
  ~TestApp() { uikit::UIApplication::shared().reset(); }

  std::shared_ptr<uikit::UIWindowScene> scene;
  std::shared_ptr<uikit::UIWindow> window;
  std::shared_ptr<uikit::UIViewController> root;
};

}  // namespace MessageBanners::testing_support
