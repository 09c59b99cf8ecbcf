// fendrel-browser: the command line of the browser stand-in.

#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/browser/ContentBlockerManager.h"
#include "platform/browser/ExtensionRegistry.h"
#include "platform/foundation/DeviceRoot.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/ShutdownWork.h"
#include "tools/common/CommandLineSuggestion.h"

namespace {

constexpr const char* kTool = "fendrel-browser";
// How long `reload` and `state` wait for the browser's answer before giving up; a browser told
// to never answer (control.json) would otherwise hold the tool for ever.
constexpr auto kAnswerTimeLimit = std::chrono::seconds(120);

constexpr const char* kUsage =
    "Usage: fendrel-browser [OPTION]... COMMAND [ARG]...\n"
    "Drives the browser stand-in of the device root ($FENDREL_DEVICE_ROOT, else\n"
    "$XDG_DATA_HOME/fendrel, else ~/.local/share/fendrel).\n"
    "\n"
    "Commands:\n"
    "  install ID PLUGIN BUNDLE   install the content-blocker extension ID (plug-in file and bundle folder)\n"
    "  set-enabled ID on|off      switch the extension on or off in the browser's settings\n"
    "  state ID                   print whether the extension is enabled (\"enabled\" or \"disabled\")\n"
    "  reload ID                  reload the extension's rules, as an app asks the browser to\n"
    "  rules ID                   print the rules the browser last applied for the extension\n"
    "\n"
    "Options:\n"
    "  -h, --help                 print this help and exit\n";

struct Command {
  const char* name;
  std::size_t arguments;
  int (*run)(const std::vector<std::string>& args);
};

int usageError(const std::string& message) {
  std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", kTool, message.c_str(), kTool);
  return 2;
}

int runtimeError(const std::string& message) {
  std::fprintf(stderr, "%s: error: %s\n", kTool, message.c_str());
  return 1;
}

std::string describe(const foundation::Error& error) {
  return error.localizedDescription() + " (" + error.domain() + " " + std::to_string(error.code()) + ")";
}

/// Waits for one answer of the browser, which comes on a thread of its own.
template <class Answer>
class AnswerWaiter {
 public:
  void deliver(Answer answer) {
    std::lock_guard lock(mutex_);
    answer_ = std::move(answer);
    ready_.notify_all();
  }
  std::optional<Answer> wait() {
    std::unique_lock lock(mutex_);
    ready_.wait_for(lock, kAnswerTimeLimit, [&] { return answer_.has_value(); });
    return answer_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable ready_;
  std::optional<Answer> answer_;
};

int install(const std::vector<std::string>& args) {
  std::error_code ignored;
  std::string plugin = std::filesystem::absolute(args[1], ignored).lexically_normal().string();
  std::string bundle = std::filesystem::absolute(args[2], ignored).lexically_normal().string();
  // A record pointing at nothing would only fail later, at the first reload.
  if (!std::filesystem::is_regular_file(plugin, ignored)) {
    return runtimeError("cannot install " + args[0] + ": no plug-in file at " + plugin);
  }
  if (!std::filesystem::is_directory(bundle, ignored)) {
    return runtimeError("cannot install " + args[0] + ": no bundle folder at " + bundle);
  }
  auto registry = browser::ExtensionRegistry::forDevice();
  if (!registry) return runtimeError(describe(registry.error()));
  if (auto done = registry->install(args[0], plugin, bundle); !done) {
    return runtimeError("cannot install " + args[0] + ": " + describe(done.error()));
  }
  std::printf("installed %s\n", args[0].c_str());
  return 0;
}

int setEnabled(const std::vector<std::string>& args) {
  if (args[1] != "on" && args[1] != "off") return usageError("set-enabled takes 'on' or 'off', not '" + args[1] + "'");
  auto registry = browser::ExtensionRegistry::forDevice();
  if (!registry) return runtimeError(describe(registry.error()));
  if (auto done = registry->setEnabled(args[0], args[1] == "on"); !done) {
    return runtimeError("cannot switch " + args[0] + ": " + describe(done.error()));
  }
  std::printf("%s %s\n", args[0].c_str(), args[1] == "on" ? "enabled" : "disabled");
  return 0;
}

int state(const std::vector<std::string>& args) {
  using Answer = std::pair<std::optional<bool>, std::optional<foundation::Error>>;
  auto waiter = std::make_shared<AnswerWaiter<Answer>>();
  browser::ContentBlockerManager::getStateOfContentBlocker(
      args[0], [waiter](std::optional<bool> enabled, std::optional<foundation::Error> error) {
        waiter->deliver({enabled, std::move(error)});
      });
  auto answer = waiter->wait();
  if (!answer) return runtimeError("the browser did not answer");
  if (answer->second) return runtimeError("cannot get the state of " + args[0] + ": " + describe(*answer->second));
  std::printf("%s\n", answer->first.value_or(false) ? "enabled" : "disabled");
  return 0;
}

int reload(const std::vector<std::string>& args) {
  using Answer = std::optional<foundation::Error>;
  auto waiter = std::make_shared<AnswerWaiter<Answer>>();
  browser::ContentBlockerManager::reloadContentBlocker(
      args[0], [waiter](std::optional<foundation::Error> error) { waiter->deliver(std::move(error)); });
  auto answer = waiter->wait();
  if (!answer) return runtimeError("cannot reload " + args[0] + ": the browser did not answer");
  if (*answer) return runtimeError("cannot reload " + args[0] + ": " + describe(**answer));
  std::printf("reloaded %s\n", args[0].c_str());
  return 0;
}

int rules(const std::vector<std::string>& args) {
  if (!browser::ExtensionRegistry::isValidIdentifier(args[0])) {
    return runtimeError("cannot read the rules of " + args[0] + ": not a valid identifier");
  }
  std::string path = foundation::DeviceRoot::browserPath() + "/applied/" + args[0] + ".json";
  auto data = foundation::FileManager::defaultManager().readFile(path);
  if (!data) return runtimeError("cannot read the rules of " + args[0] + ": " + data.error().localizedDescription());
  std::fwrite(data->view().data(), 1, data->size(), stdout);
  if (!data->empty() && data->view().back() != '\n') std::fputc('\n', stdout);
  return 0;
}

constexpr Command kCommands[] = {
    {"install", 3, install}, {"set-enabled", 2, setEnabled}, {"state", 1, state},
    {"reload", 1, reload},   {"rules", 1, rules},
};

int unknownCommand(const std::string& name) {
  std::vector<std::string> names;
  for (const Command& command : kCommands) names.emplace_back(command.name);
  std::string message = "unknown command '" + name + "'";
  if (auto match = fendrel::cli::closestMatch(name, names)) message += " (did you mean '" + *match + "'?)";
  return usageError(message);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> words(argv + 1, argv + argc);
  if (words.empty()) return usageError("missing command");
  for (const std::string& word : words) {
    if (word == "-h" || word == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    }
  }
  if (words[0].starts_with("-")) return usageError("unknown option '" + words[0] + "'");
  for (const Command& command : kCommands) {
    if (words[0] != command.name) continue;
    std::vector<std::string> args(words.begin() + 1, words.end());
    if (args.size() != command.arguments) {
      return usageError(std::string("'") + command.name + "' takes " + std::to_string(command.arguments) +
                        (command.arguments == 1 ? " argument" : " arguments") + ", not " +
                        std::to_string(args.size()));
    }
    // Browser threads may still be parked (a reload told never to answer): the registered shutdown
    // work runs, then the process ends without waiting for them.
    foundation::ShutdownWork::exitProcess(command.run(args));
  }
  return unknownCommand(words[0]);
}
