#include "app/AppLaunch.h"

#include "app/cli/DeviceSetup.h"
#include "app/screens/AppDelegate.h"
#include "app/screens/StyledControls.h"
#include "platform/dispatch/DispatchQueue.h"
#include "platform/foundation/Bundle.h"
#include "platform/uikit/Application.h"
#include "platform/uikit/Archive.h"
#include "platform/uikit/SystemSheets.h"
#include "platform/uikit/Window.h"

namespace fendrel {

foundation::Result<void> launchApp(AppDelegate& delegate) {
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
  delegate.window->setRootViewController(*first);
  delegate.window->makeKeyAndVisible();
  return {};
}

}  // namespace fendrel
