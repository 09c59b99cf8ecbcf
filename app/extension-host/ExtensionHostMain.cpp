// fendrel-extension-host: the app's extension host. The browser runs one extension request in it,
// in a process of its own (see browser::runExtensionHostProgram for its arguments and answer).
//
// The host reports crashes as the app does: it starts the crash reporter with the app's address
// (FENDREL_DSN in its place, empty: not started) and the request is one session, sent when the
// host ends.

#include <optional>

#include "app/core/CrashReporting.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiSDK.h"
#include "platform/browser/ExtensionHost.h"

namespace {

/// The crash reporter's session for one request: started with the reporter, ended and sent when
/// the host returns, whichever way it returns (after the answer: the browser does not wait for it).
/// The browser waits for the answer, so the reporter starts with the crash integration alone: the
/// host runs no main loop, shows nothing and makes no requests of its own.
class ReporterSession {
 public:
  ReporterSession() {
    running_ = fendrel::startCrashReporter(fendrel::ReporterIntegrations::CrashOnly);
    if (running_) DozidiSDK::startSession();
  }
  ~ReporterSession() {
    if (!running_) return;
    DozidiSDK::endSession();
    DozidiSDK::flush(kFlushSeconds);
  }
  ReporterSession(const ReporterSession&) = delete;
  ReporterSession& operator=(const ReporterSession&) = delete;

 private:
  /// How long the host waits at its end for the session to be sent; the browser waits as long.
  static constexpr double kFlushSeconds = 1.5;
  bool running_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  std::optional<ReporterSession> session;
  // Started once the main bundle is known (the reporter names the release after it) and before
  // the request: a crash in the request is reported.
  return browser::runExtensionHostProgram(argc, argv, {.beforeRequest = [&] { session.emplace(); }});
}
