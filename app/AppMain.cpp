// fendrel-app: the app with its screens. By default it shows them in a window on the desktop;
// with --headless it runs the same app on the main run loop alone, until interrupted. Both use
// the device root, configuration and browser stand-in that `fendrel` uses.

#include <csignal>
#include <memory>
#include <cstdio>
#include <string>
#include <string_view>

#include "app/AppLaunch.h"
#include "app/screens/AppDelegate.h"
#include "app/screens/StyledControls.h"
#include "platform/dispatch/MainRunLoop.h"
#include "platform/foundation/ShutdownWork.h"
#include "platform/uikit/Application.h"
#include "platform/uikit/DesktopHost.h"
#include "platform/uikit/DesktopWindow.h"
#include "platform/uikit/FontTextMeasurer.h"
#include "platform/uikit/ImageDecoding.h"
#include "platform/uikit/TextMeasurer.h"
#include "platform/uikit/Window.h"

namespace {

constexpr const char* kProgram = "fendrel-app";
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;

constexpr const char* kUsage =
    "Usage: fendrel-app [OPTION]...\n"
    "Runs the Fendrel app with its screens, in a window on the desktop.\n"
    "\n"
    "Options:\n"
    "  --headless  run the app without a window, on its main run loop only, until interrupted\n"
    "  --help      print this text and exit\n"
    "\n"
    "The device root is $FENDREL_DEVICE_ROOT [default: $XDG_DATA_HOME/fendrel]; the configuration hosts\n"
    "are $FENDREL_CONFIG_BASES and the crash-reporting address is $FENDREL_DSN when set.\n";

volatile std::sig_atomic_t interrupted = 0;

// Async-signal-safe: a flag store and an eventfd write, so the main loop sees it at once.
void onInterrupt(int) {
  interrupted = 1;
  dispatch::wakeMainLoop();
}

int fail(const std::string& message) {
  std::fprintf(stderr, "%s: error: %s\n", kProgram, message.c_str());
  return kExitFailure;
}

int appMain(int argc, char** argv) {
  bool headless = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg == "--headless") {
      headless = true;
      continue;
    }
    std::fprintf(stderr, "%s: unknown option '%s'\nTry '%s --help' for more information.\n", kProgram, argv[i],
                 kProgram);
    return kExitUsage;
  }

  struct sigaction action {};
  action.sa_handler = onInterrupt;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
  // A write past the file-size limit fails with EFBIG and is reported, instead of ending the app.
  ::signal(SIGXFSZ, SIG_IGN);
  dispatch::bindMainThread();

  // In the window, text is laid out with the fonts that draw it.
  if (!headless) uikit::TextMeasurer::setCurrent(std::make_shared<uikit::FontTextMeasurer>());
  uikit::useDecodedArchiveImages();
  fendrel::AppDelegate delegate;
  if (auto launched = fendrel::launchApp(delegate); !launched)
    return fail("cannot start the app: " + launched.error().localizedDescription());

  if (headless) {
    while (!interrupted) dispatch::runMainLoopUntil([] { return interrupted != 0; }, 3600.0);
    return kExitInterrupted;
  }
  uikit::DesktopWindow::Options options;
  options.title = fendrel::appName();
  options.size = uikit::UIScreen::main().bounds().size;
  auto window = uikit::DesktopWindow::open(std::make_shared<uikit::ApplicationDesktopHost>(), options);
  if (!window) return fail("cannot open the window: " + window.error().localizedDescription() + " (try --headless)");
  (*window)->runUntil([] { return interrupted != 0; }, 1e9);
  return interrupted ? kExitInterrupted : 0;
}

}  // namespace

int main(int argc, char** argv) {
  // Threads of the network, the browser and the configuration may still be running: the
  // registered shutdown work runs, then the process ends without tearing down what they use.
  foundation::ShutdownWork::exitProcess(appMain(argc, argv));
}
