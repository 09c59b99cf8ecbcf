// fendrel: the app, headless. Each run is one launch of the app on the device root, driven through
// its screens by the command given on the command line.

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/cli/AppSession.h"
#include "app/cli/CommandLine.h"
#include "app/cli/Commands.h"
#include "app/cli/EventLog.h"
#include "app/core/CrashReporting.h"
#include "platform/dispatch/MainRunLoop.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/Value.h"

namespace {

using namespace fendrel::cli;

// Async-signal-safe: an atomic store and an eventfd write, so the main loop sees it at once.
void onInterrupt(int) {
  AppSession::interrupted.store(true);
  dispatch::wakeMainLoop();
}

int usageError(const std::string& message) {
  EventLog::shared().diagnostic(std::string(kProgram) + ": " + message);
  EventLog::shared().diagnostic(std::string("Try '") + kProgram + " --help' for more information.");
  return kExitUsage;
}

/// Says once, on standard error, when the settings store found its file unreadable and set it
/// aside; the app goes on from its defaults.
void reportUnreadableSettings() {
  foundation::NotificationCenter::defaultCenter().addObserver(
      foundation::UserDefaults::kUnreadableFileSetAsideNotification, nullptr, [](const foundation::Notification& n) {
        EventLog::shared().diagnostic(std::string(kProgram) + ": warning: the settings file " +
                                      n.userInfo["path"].asString().value_or("?") + " cannot be read; it is kept as " +
                                      n.userInfo["keptAs"].asString().value_or("?") +
                                      " and the app starts from its default settings");
      });
}

}  // namespace

int main(int argc, char** argv) {
  EventLog::shared().takeOverStandardOutput();
  auto invocation = parseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  int status = kExitSuccess;
  if (!invocation) {
    status = usageError(invocation.error().localizedDescription());
  } else if (invocation->help) {
    std::string usage = usageText();
    if (usage.ends_with('\n')) usage.pop_back();
    EventLog::shared().text(usage);
  } else {
    if (invocation->device) {
      // Set before anything reads it; the browser's extension host inherits it as well.
      std::error_code error;
      auto root = std::filesystem::absolute(*invocation->device, error);
      ::setenv("FENDREL_DEVICE_ROOT", (error ? *invocation->device : root.string()).c_str(), 1);
    }
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    // A write past the file-size limit then fails with EFBIG and is reported like any failed
    // write, instead of the signal ending the program silently with its temporary file left.
    ::signal(SIGXFSZ, SIG_IGN);
    reportUnreadableSettings();
    status = invocation->entry->run(*invocation);
  }
  // Threads of the network, the browser and the configuration's retry timers may still be running:
  // the app's end posts will-terminate, the registered shutdown work runs, then the process ends
  // without tearing down what they use.
  fendrel::terminateApp(status);
}
