#include "app/AppLaunch.h"

#include "app/cli/DeviceSetup.h"
#include "app/screens/AppDelegate.h"
#include "app/screens/StyledControls.h"
#include "platform/foundation/Bundle.h"
#include "platform/uikit/Application.h"
#include "platform/uikit/Archive.h"
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
