// A program that starts the reporter with its crash integration, as an app does, and then ends
// the way its first argument says:
//   next_launch_child <null|null-full-disk|abort|throw|start|start-plain> <DSN>
// "start" starts, waits until what it has to send is sent, and exits 0; "start-plain" does the
// same without the crash integration (the reference of the start-up benchmark). The crash modes set a
// tag, an extra, a user and a breadcrumb first, so that the next launch can find them;
// "null-full-disk" crashes when no file may grow any more, as on a full disk.
#include <sys/resource.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiOptions.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiSDK.h"
#include "dozidi-cocoa/Sources/Dozidi/Integrations/DozidiCrashIntegration.h"
#include "dozidi-cocoa/Sources/Dozidi/Scope/DozidiBreadcrumb.h"
#include "dozidi-cocoa/Sources/Dozidi/Scope/DozidiScope.h"
#include "dozidi-cocoa/Sources/Dozidi/Scope/DozidiUser.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/DozidiCrash.h"

extern "C" {

volatile int* volatile g_nullPointer = nullptr;

__attribute__((noinline)) void next_launch_dereference_null() {
  *g_nullPointer = 42;
}

__attribute__((noinline)) void next_launch_abort() { std::abort(); }

__attribute__((noinline)) void next_launch_throw() { throw std::runtime_error("e2e boom"); }

}  // extern "C"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s <null|null-full-disk|abort|throw|start|start-plain> <DSN>\n", argv[0]);
    return 2;
  }
  const std::string mode = argv[1];
  const std::string dsn = argv[2];
  if (mode != "start-plain") DozidiCrashIntegration::registerWithSDK();
  // Exact exception values: no memory introspection.
  if (auto facade = DozidiCrash::sharedInstance()) facade->setIntrospectMemory(false);
  DozidiSDK::startWithConfigureOptions([&](DozidiOptions& options) {
    options.setDsn(dsn);
    options.releaseName = "next-launch@1.0";
    options.debug = true;
    options.setIntegrations({"DozidiCrashIntegration"});
    // What an app bundle names as its executable: its frames are the app's own.
    options.addInAppInclude("next_launch_child");
  });
  if (mode == "start" || mode == "start-plain") {
    DozidiSDK::flush(10);
    return 0;
  }
  DozidiSDK::startSession();
  DozidiSDK::configureScope([](DozidiScope& scope) {
    scope.setTagValue("one", "launch");
    scope.setExtraValue(foundation::Value(7), "answer");
  });
  DozidiSDK::setUser(DozidiUser::initWithUserId("user-1"));
  auto crumb = DozidiBreadcrumb::initWithLevel(DozidiEventLevel::Info, "e2e");
  crumb->message = "before the crash";
  DozidiSDK::addBreadcrumb(crumb);
  DozidiSDK::flush(10);
  if (mode == "null-full-disk") {
    // Files may be created but not grow: writes fail with EFBIG instead of raising SIGXFSZ.
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit noGrowth{0, 0};
    setrlimit(RLIMIT_FSIZE, &noGrowth);
    next_launch_dereference_null();
  }
  if (mode == "null") next_launch_dereference_null();
  if (mode == "abort") next_launch_abort();
  if (mode == "throw") next_launch_throw();
  std::fprintf(stderr, "mode %s did not crash\n", mode.c_str());
  return 1;
}
