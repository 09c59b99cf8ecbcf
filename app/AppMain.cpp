// fendrel-app: the app with its screens. By default it shows them in a window on the desktop;
// with --headless it runs the same app on the main run loop alone, until interrupted. Both use
// the device root, configuration and browser stand-in that `fendrel` uses.

#include <time.h>

#include <csignal>
#include <memory>
#include <cstdio>
#include <string>
#include <string_view>

#include "app/AppLaunch.h"
#include "app/core/CrashReporting.h"
#include "app/screens/AppDelegate.h"
#include "app/screens/StyledControls.h"
#include "platform/dispatch/Clock.h"
#include "platform/dispatch/MainRunLoop.h"
#include "platform/foundation/RetryOnInterrupt.h"
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
    "              (SIGINT ends it with status 130, SIGTERM with 0, as closing the window does)\n"
    "  --help      print this text and exit\n"
    "\n"
    "Headless, the signal SIGUSR1 blocks the main thread for 2.5 seconds, which the crash reporter\n"
    "reports as an app hang (a check of hang reporting).\n"
    "\n"
    "The device root is $FENDREL_DEVICE_ROOT [default: $XDG_DATA_HOME/fendrel]; the configuration hosts\n"
    "are $FENDREL_CONFIG_BASES and the crash-reporting address is $FENDREL_DSN when set.\n";

// The signal that asked the app to end, 0 while none did.
volatile std::sig_atomic_t endSignal = 0;

// Async-signal-safe: a flag store and an eventfd write, so the main loop sees it at once.
void onEndSignal(int signal) {
  endSignal = signal;
  dispatch::wakeMainLoop();
}

volatile std::sig_atomic_t hangRequested = 0;

void onHangRequest(int) {
  hangRequested = 1;
  dispatch::wakeMainLoop();
}

// The sleep has a frame of its own: the system's sleep keeps no frame pointer, so a stack walk
// from inside it passes over its direct caller.
__attribute__((noinline)) void sleepTwoAndAHalfSeconds() {
  timespec rest{2, 500'000'000};
  (void)foundation::retryOnInterrupt([&] { return ::nanosleep(&rest, &rest); });
  asm volatile("" ::: "memory");
}

}  // namespace

// Named and exported, so that the hang report's main-thread stack shows where the thread stood.
extern "C" __attribute__((noinline)) void fendrel_app_block_main_thread() {
  // A real sleep: the hang detector watches the real clock in the app.
  sleepTwoAndAHalfSeconds();
  asm volatile("" ::: "memory");
}

namespace {

// An interrupt from the terminal ends with 130; a request to terminate, like closing the window,
// is the app's ordinary end.
int exitStatusAfterRun() { return endSignal == SIGINT ? kExitInterrupted : 0; }

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
  action.sa_handler = onEndSignal;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
  if (headless) {
    struct sigaction hang {};
    hang.sa_handler = onHangRequest;
    sigemptyset(&hang.sa_mask);
    ::sigaction(SIGUSR1, &hang, nullptr);
  }
  // A write past the file-size limit fails with EFBIG and is reported, instead of ending the app.
  ::signal(SIGXFSZ, SIG_IGN);
  dispatch::bindMainThread();

  // In the window, text is laid out with the fonts that draw it.
  if (!headless) uikit::TextMeasurer::setCurrent(std::make_shared<uikit::FontTextMeasurer>());
  uikit::useDecodedArchiveImages();
  fendrel::AppDelegate delegate;
  // In the window, the first screen goes in when the window is first on the screen, where the
  // app's start ends; headless, at once.
  const auto firstScreen = headless ? fendrel::FirstScreen::Now : fendrel::FirstScreen::WhenOnScreen;
  if (auto launched = fendrel::launchApp(delegate, firstScreen); !launched)
    return fail("cannot start the app: " + launched.error().localizedDescription());

  if (headless) {
    while (!endSignal) {
      // Both flags are set by signal handlers that wake the loop: idle, it sleeps until then.
      dispatch::runMainLoopUntil([] { return endSignal != 0 || hangRequested != 0; }, dispatch::kForever,
                                 dispatch::Recheck::Never);
      if (hangRequested != 0) {
        hangRequested = 0;
        fendrel_app_block_main_thread();
      }
    }
    return exitStatusAfterRun();
  }
  uikit::DesktopWindow::Options options;
  options.title = fendrel::appName();
  options.size = uikit::UIScreen::main().bounds().size;
  auto window = uikit::DesktopWindow::open(std::make_shared<uikit::ApplicationDesktopHost>(), options);
  if (!window) return fail("cannot open the window: " + window.error().localizedDescription() + " (try --headless)");
  (*window)->runUntil([] { return endSignal != 0; }, dispatch::kForever, dispatch::Recheck::Never);
  return exitStatusAfterRun();
}

}  // namespace

int main(int argc, char** argv) {
  // Window closed or signal: the same end as `fendrel`'s. Threads of the network, the browser and
  // the configuration may still be running: will-terminate is posted, the registered shutdown
  // work runs (the reporter's session ends and is sent), then the process ends without tearing
  // down what they use.
  fendrel::terminateApp(appMain(argc, argv));
}
