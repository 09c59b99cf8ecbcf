// The extension-host program's body: one request, one answer line.

#include "platform/browser/ExtensionHost.h"

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

namespace browser {
namespace {

foundation::Value answerOf(const ExtensionContext& context) {
  if (auto error = context.cancellationError()) {
    return foundation::Dictionary{{"error", foundation::Dictionary{{"domain", error->domain()},
                                                                   {"code", error->code()},
                                                                   {"description", error->localizedDescription()}}}};
  }
  foundation::Array items;
  for (const ExtensionItem& item : context.returnedItems().value_or(std::vector<ExtensionItem>{})) {
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

}  // namespace

int runExtensionHostProgram(int argc, char** argv, const ExtensionHostHooks& hooks) {
  if (argc != 3 || argv[1][0] == '\0' || argv[2][0] == '\0') {
    std::fputs("Usage: fendrel-extension-host PLUGIN BUNDLE\n", stderr);
    return 2;
  }
  const std::string plugin = argv[1];
  const std::string bundle = argv[2];

  // The answer goes to the real standard output; the plug-in's own output goes to stderr.
  int answerFd = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
  if (answerFd < 0 || ::dup2(STDERR_FILENO, STDOUT_FILENO) < 0) return 1;

  // Processes the plug-in starts learn the main bundle from the environment.
  ::setenv("FENDREL_MAIN_BUNDLE", bundle.c_str(), 1);
  foundation::Bundle::setMainBundleName(bundle);

  // Loaded before the hook: a crash reporter started by the hook walks the loaded images on a
  // thread of its own right after its start, and a load at that moment waits for the walk.
  void* handle = ::dlopen(plugin.c_str(), RTLD_NOW | RTLD_LOCAL);
  const std::string loadError = handle ? std::string() : std::string(::dlerror());
  auto entry = handle ? reinterpret_cast<ExtensionEntryPoint>(::dlsym(handle, kExtensionEntryPointSymbol)) : nullptr;
  if (hooks.beforeRequest) hooks.beforeRequest();

  const int status = [&] {
    if (!handle) return fail(answerFd, "cannot load the plug-in: " + loadError);
    if (!entry) {
      return fail(answerFd, std::string("cannot load the plug-in: it has no ") + kExtensionEntryPointSymbol);
    }
    ExtensionContext context;
    entry(&context);
    if (!context.isAnswered()) return fail(answerFd, "the extension returned without answering the request");
    return printAnswer(answerFd, answerOf(context), 0);
  }();
  // The browser has its answer once the output closes: whatever the program does after this
  // (its crash reporter sends a session) never keeps the browser waiting.
  closeOutput(answerFd);
  return status;
}

}  // namespace browser
