#include "app/AppLaunch.h"

#include "app/cli/DeviceSetup.h"
#include "app/screens/AppDelegate.h"
#include "app/screens/StyledControls.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/OperationQueue.h"
#include "platform/uikit/Application.h"
#include "platform/uikit/Archive.h"
#include "platform/uikit/SystemSheets.h"
#include "platform/uikit/Window.h"

namespace fendrel {

foundation::Result<void> launchApp(AppDelegate& delegate, FirstScreen firstScreen) {
  foundation::Bundle::setMainBundleName(cli::kAppBundleName);
  auto prepared = cli::prepareDevice();
  if (!prepared) return prepared.error();
  foundation::Bundle::resetMain();
  cli::removeAbandonedWrites();
  registerScreenArchiveClasses();
  useBrowserExtensionState();
  // No store exists here: the product sheet loads at once and shows what it was given.
  uikit::SKStoreProductViewController::setLoader([](uikit::SKStoreProductViewController& sheet) {
    std::weak_ptr<uikit::UIViewController> weak = sheet.shared_from_this();
    dispatch::DispatchQueue::main()->async([weak] {
      if (auto alive = std::dynamic_pointer_cast<uikit::SKStoreProductViewController>(weak.lock()))
        (void)alive->answerLoad(true);
    });
  });

  delegate.didFinishLaunchingWithOptions({});

  auto board = uikit::UIStoryboard::storyboardWithName("Main");
  if (!board) return board.error();
  auto first = (*board)->instantiateInitialViewController();
  if (!first) return first.error();
  delegate.window = uikit::UIWindow::create(uikit::UIScreen::main().bounds());
  auto show = [window = delegate.window, root = *first] {
    window->setRootViewController(root);
    window->makeKeyAndVisible();
  };
  if (firstScreen == FirstScreen::Now) {
    show();
    return {};
  }
  // Once: the registration is dropped by its first delivery. The block runs as an operation of
  // the main queue, so every observer of the notification has had it first.
  auto& center = foundation::NotificationCenter::defaultCenter();
  auto token = std::make_shared<foundation::NotificationCenter::ObserverToken>();
  *token = center.addObserver(uikit::UIWindowDidBecomeVisibleNotification, foundation::OperationQueue::main(),
                              [token, show = std::move(show)](const foundation::Notification&) {
                                if (*token == 0) return;
                                foundation::NotificationCenter::defaultCenter().removeObserver(*token);
                                *token = 0;
                                show();
                              });
  return {};
}

}  // namespace fendrel
