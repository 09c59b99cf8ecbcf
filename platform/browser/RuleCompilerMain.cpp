// fendrel-browser-compiler: compiles one content-blocker rule file with WebKit, in a process of its
// own, so that a crash or a hang of the engine's compiler costs the browser one reload, never the
// program that asked for it.
//
//   fendrel-browser-compiler [--fault abort|hang] STORE IDENTIFIER SOURCE
//
// Compiles the rule file SOURCE and stores the compiled list under IDENTIFIER in the folder STORE,
// then prints the outcome as one JSON line on standard output:
//   {"compiled":true}                                         WebKit accepted the file
//   {"error":{"domain":"…","code":0,"description":"…"}}     WebKit refused it
//   {"failure":"…"}                                           the source could not be read
// Exit status 0 when WebKit answered, 1 on a failure, 2 on a usage error. WebKit's temporary files
// go to $TMPDIR, which the browser points at a folder of its own.
//
// --fault makes the process abort or hang before it compiles: the browser's failure injection
// uses it to show what a crash or a hang of the engine does.

#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/browser/ContentRuleListStore.h"
#include "platform/foundation/SystemCalls.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/JSONSerialization.h"

namespace {

/// Prints the answer line and ends the process at once: WebKit's thread is still running, and
/// the static destructors of a normal exit would pull its state from under it.
[[noreturn]] void answer(const foundation::Value& value, int status) {
  auto text = foundation::JSONSerialization::dataWithJSONObject(
      value, foundation::JSONWritingOptions::WithoutEscapingSlashes);
  std::string line = text ? *text + "\n" : std::string("{\"failure\":\"cannot write the answer\"}\n");
  bool written = (foundation::writeFully(STDOUT_FILENO, line) == 0);
  ::_exit(written && text ? status : 1);
}

[[noreturn]] void hang() {
  for (;;) ::pause();
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string fault;
  if (args.size() >= 2 && args[0] == "--fault") {
    fault = args[1];
    args.erase(args.begin(), args.begin() + 2);
  }
  if (args.size() != 3 || args[0].empty() || args[1].empty() || args[2].empty() ||
      !(fault.empty() || fault == "abort" || fault == "hang")) {
    std::fputs("Usage: fendrel-browser-compiler [--fault abort|hang] STORE IDENTIFIER SOURCE\n", stderr);
    return 2;
  }
  // The compile is the browser's errand: when the thread that started it goes away, so does it.
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);

  if (fault == "abort") std::abort();
  if (fault == "hang") hang();

  auto source = foundation::FileManager::defaultManager().readFile(args[2]);
  if (!source) answer(foundation::Dictionary{{"failure", source.error().localizedDescription()}}, 1);
  auto compiled = browser::ContentRuleListStore::compile(args[0], args[1], source->view());
  if (compiled) answer(foundation::Dictionary{{"compiled", true}}, 0);
  const foundation::Error& error = compiled.error();
  answer(foundation::Dictionary{{"error", foundation::Dictionary{{"domain", error.domain()},
                                                                 {"code", error.code()},
                                                                 {"description", error.localizedDescription()}}}},
         0);
}
