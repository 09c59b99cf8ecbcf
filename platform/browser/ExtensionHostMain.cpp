// fendrel-extension-host: runs one browser extension request in a process of its own.
//
//   fendrel-extension-host PLUGIN BUNDLE
//
// Loads the plug-in, makes BUNDLE the main bundle, calls the plug-in's entry point once with a
// fresh request and prints the answer as one JSON line on standard output:
//   {"items":[{"attachments":[{"path":"/…/output.json","size":1234}]}]}   answered with items
//   {"error":{"domain":"…","code":1,"description":"…"}}                  the extension cancelled
//   {"hostError":"…"}                                                     the plug-in could not run
// Exit status 0 when the extension answered (with items or an error), 1 when it could not run,
// 2 on a usage error. Anything the plug-in itself prints goes to standard error, so that it cannot
// be mistaken for the answer.
//
// Built with the app, the host reports crashes as the app does: it starts the crash reporter with
// the app's address (FENDREL_DSN in its place, empty: not started) and the request is one session,
// sent when the host ends. The plug-in itself carries no reporter.

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/browser/ExtensionContext.h"
#include "platform/foundation/SystemCalls.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/JSONSerialization.h"

#ifdef FENDREL_HOST_REPORTS_CRASHES
#include "app/core/CrashReporting.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiSDK.h"
#endif

namespace {

foundation::Value answerOf(const browser::ExtensionContext& context) {
  if (auto error = context.cancellationError()) {
    return foundation::Dictionary{{"error", foundation::Dictionary{{"domain", error->domain()},
                                                                   {"code", error->code()},
                                                                   {"description", error->localizedDescription()}}}};
  }
  foundation::Array items;
  for (const browser::ExtensionItem& item : context.returnedItems().value_or(std::vector<browser::ExtensionItem>{})) {
    foundation::Array attachments;
    for (const auto& provider : item.attachments) {
      if (!provider) continue;
      attachments.push_back(foundation::Dictionary{{"path", provider->path()}, {"size", provider->size()}});
    }
    items.push_back(foundation::Dictionary{{"attachments", std::move(attachments)}});
  }
  return foundation::Dictionary{{"items", std::move(items)}};
}

/// Writes the answer line to `fd` (the saved standard output); returns the exit status.
int printAnswer(int fd, const foundation::Value& answer, int status) {
  auto text = foundation::JSONSerialization::dataWithJSONObject(
      answer, foundation::JSONWritingOptions::WithoutEscapingSlashes);
  std::string line = text ? *text + "\n" : std::string("{\"hostError\":\"cannot write the answer\"}\n");
  if (!(foundation::writeFully(fd, line) == 0)) return 1;
  return text ? status : 1;
}

/// Closes the answer and the standard output and error (they become /dev/null), so the browser
/// reading them sees their end.
void closeOutput(int answerFd) {
  ::close(answerFd);
  const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (null < 0) return;
  ::dup2(null, STDOUT_FILENO);
  ::dup2(null, STDERR_FILENO);
  ::close(null);
}

int fail(int fd, const std::string& reason) {
  return printAnswer(fd, foundation::Dictionary{{"hostError", reason}}, 1);
}

/// The crash reporter's session for one request: started with the reporter, ended and sent when
/// the host returns, whichever way it returns.
class ReporterSession {
 public:
  ReporterSession() {
#ifdef FENDREL_HOST_REPORTS_CRASHES
    running_ = fendrel::startCrashReporter();
    if (running_) DozidiSDK::startSession();
#endif
  }
  ~ReporterSession() {
#ifdef FENDREL_HOST_REPORTS_CRASHES
    if (!running_) return;
    DozidiSDK::endSession();
    DozidiSDK::flush(kFlushSeconds);
#endif
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
  if (argc != 3 || argv[1][0] == '\0' || argv[2][0] == '\0') {
    std::fputs("Usage: fendrel-extension-host PLUGIN BUNDLE\n", stderr);
    return 2;
  }
  const std::string plugin = argv[1];
  const std::string bundle = argv[2];

  // The answer goes to the real standard output; the plug-in's own output goes to stderr.
  int answerFd = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
  if (answerFd < 0 || ::dup2(STDERR_FILENO, STDOUT_FILENO) < 0) return 1;

  // The plug-in carries its own copy of the platform code, which finds its main bundle in the
  // environment; the host's copy is told directly.
  ::setenv("FENDREL_MAIN_BUNDLE", bundle.c_str(), 1);
  foundation::Bundle::setMainBundleName(bundle);
  // After the main bundle is known: the reporter names the release after it.
  ReporterSession session;

  const int status = [&] {
    void* handle = ::dlopen(plugin.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) return fail(answerFd, std::string("cannot load the plug-in: ") + ::dlerror());
    auto entry = reinterpret_cast<browser::ExtensionEntryPoint>(::dlsym(handle, browser::kExtensionEntryPointSymbol));
    if (!entry) {
      return fail(answerFd, std::string("cannot load the plug-in: it has no ") + browser::kExtensionEntryPointSymbol);
    }
    browser::ExtensionContext context;
    entry(&context);
    if (!context.isAnswered()) return fail(answerFd, "the extension returned without answering the request");
    return printAnswer(answerFd, answerOf(context), 0);
  }();
  // The browser has its answer once the output closes: the reporter's session is sent after
  // that, so the browser never waits on it.
  closeOutput(answerFd);
  return status;
}
