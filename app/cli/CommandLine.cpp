#include "app/cli/CommandLine.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>

#include "app/cli/CLIError.h"
#include "tools/common/CommandLineSuggestion.h"

namespace fendrel::cli {
namespace {

/// A whitelist action and the number of arguments it takes.
struct CommandShape {
  const char* name;
  std::size_t arguments;
};

constexpr CommandShape kWhitelistActions[] = {
    {"list", 0}, {"add", 1}, {"remove", 1}, {"enable", 1}, {"disable", 1},
};

const std::vector<std::string> kOptions = {"--device", "--timeout", "--force", "--help"};

foundation::Error usageError(std::string message) {
  static_assert(static_cast<int>(CommandLineErrorCode::Usage) == kExitUsage);
  return makeCLIError(CommandLineErrorCode::Usage, std::move(message));
}

std::string withSuggestion(std::string message, std::string_view word, const std::vector<std::string>& candidates) {
  if (auto match = closestMatch(word, candidates)) message += " (did you mean '" + *match + "'?)";
  return message;
}

template <std::size_t N>
std::vector<std::string> namesOf(const CommandShape (&shapes)[N]) {
  std::vector<std::string> names;
  for (const CommandShape& shape : shapes) names.emplace_back(shape.name);
  return names;
}

std::vector<std::string> commandNames() {
  std::vector<std::string> names;
  for (const Command& command : commandTable()) names.emplace_back(command.name);
  return names;
}

const Command* findCommand(std::string_view name) {
  for (const Command& command : commandTable()) {
    if (name == command.name) return &command;
  }
  return nullptr;
}

template <std::size_t N>
const CommandShape* findShape(const CommandShape (&shapes)[N], std::string_view name) {
  for (const CommandShape& shape : shapes) {
    if (name == shape.name) return &shape;
  }
  return nullptr;
}

std::optional<double> parseTimeout(std::string_view text) {
  if (text.empty()) return std::nullopt;
  std::string copy(text);
  char* end = nullptr;
  const double seconds = std::strtod(copy.c_str(), &end);
  if (end != copy.c_str() + copy.size() || !std::isfinite(seconds) || seconds <= 0) return std::nullopt;
  return seconds;
}

/// Checks the positional words against the command's shape.
foundation::Result<void> checkArguments(const Invocation& invocation) {
  const auto& args = invocation.arguments;
  const CommandArguments shape = invocation.entry->arguments;
  if (shape == CommandArguments::WhitelistAction) {
    if (args.empty()) return usageError("missing whitelist action (list, add, remove, enable or disable)");
    const CommandShape* action = findShape(kWhitelistActions, args[0]);
    if (!action) {
      return usageError(withSuggestion("unknown whitelist action '" + args[0] + "'", args[0],
                                       namesOf(kWhitelistActions)));
    }
    if (args.size() < 1 + action->arguments) {
      return usageError(std::string("missing ") + (args[0] == "add" ? "site" : "position") + " for 'whitelist " +
                        args[0] + "'");
    }
    if (args.size() > 1 + action->arguments) return usageError("unexpected argument '" + args[1 + action->arguments] + "'");
    if (action->arguments == 1 && args[0] != "add" && !parsePosition(args[1])) {
      return usageError("invalid position '" + args[1] + "': expected a whole number from 0");
    }
    if (args[0] == "add" && args[1].empty()) return usageError("the site for 'whitelist add' is empty");
    return {};
  }
  const std::size_t count = shape == CommandArguments::ListID ? 1 : 0;
  if (args.size() < count) return usageError("missing list ID for '" + invocation.command + "'");
  if (args.size() > count) return usageError("unexpected argument '" + args[count] + "'");
  return {};
}

}  // namespace

std::optional<std::int64_t> parsePosition(std::string_view text) {
  std::int64_t value = 0;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || ptr != end || value < 0) return std::nullopt;
  return value;
}

foundation::Result<Invocation> parseCommandLine(const std::vector<std::string>& arguments) {
  Invocation invocation;
  std::vector<std::string> words;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& arg = arguments[i];
    // "-1" is a (bad) position, not an option: the position check explains it better.
    const bool negativeNumber = arg.size() >= 2 && arg[0] == '-' && arg[1] >= '0' && arg[1] <= '9';
    if (optionsEnded || arg.size() < 2 || arg[0] != '-' || negativeNumber) {
      words.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    if (arg == "-h" || arg == "--help") {
      invocation.help = true;
      continue;
    }
    if (arg == "--force") {
      invocation.force = true;
      continue;
    }
    const std::string name = arg.substr(0, arg.find('='));
    if (name == "--device" || name == "--timeout") {
      std::string value;
      if (name.size() < arg.size()) {
        value = arg.substr(name.size() + 1);
      } else if (i + 1 < arguments.size()) {
        value = arguments[++i];
      } else {
        return usageError("option '" + name + "' needs a value");
      }
      if (name == "--device") {
        if (value.empty()) return usageError("option '--device' needs a folder");
        invocation.device = value;
      } else {
        auto seconds = parseTimeout(value);
        if (!seconds) return usageError("invalid timeout '" + value + "': expected a number of seconds above 0");
        invocation.timeoutSeconds = *seconds;
      }
      continue;
    }
    return usageError(withSuggestion("unrecognized option '" + arg + "'", name, kOptions));
  }
  if (invocation.help) return invocation;
  if (words.empty()) return usageError("missing command");
  invocation.command = words.front();
  invocation.arguments.assign(words.begin() + 1, words.end());
  invocation.entry = findCommand(invocation.command);
  if (!invocation.entry) {
    return usageError(withSuggestion("unknown command '" + invocation.command + "'", invocation.command,
                                     commandNames()));
  }
  if (invocation.force && invocation.command != "compile") {
    return usageError("option '--force' applies only to 'compile'");
  }
  auto checked = checkArguments(invocation);
  if (!checked) return checked.error();
  return invocation;
}

std::string usageText() {
  std::string text =
      "Usage: fendrel [OPTION]... COMMAND [ARG]...\n"
      "Runs the Fendrel content blocker headless on a device root and drives it as a user would.\n"
      "\n"
      "Commands:\n";
  for (const Command& command : commandTable()) text += command.help;
  text +=
      "\n"
      "Every command but demo-server is one launch of the app. Lines of what happened are written\n"
      "to standard output as JSON (to standard error for lists, state and whitelist list, whose\n"
      "listing is the result); the app's analytics lines go to standard error.\n"
      "\n"
      "Options:\n"
      "  --device DIR           the device root [default: $FENDREL_DEVICE_ROOT, else\n"
      "                         $XDG_DATA_HOME/fendrel, else ~/.local/share/fendrel; for demo a\n"
      "                         fresh temporary folder]\n"
      "  --timeout SECONDS      how long to wait for the app to become quiet [default: 120]\n"
      "  --force                compile even when the enabled lists did not change\n"
      "  -h, --help             print this help and exit\n"
      "\n"
      "Exit status: 0 success, 1 what the command asked for failed, 2 usage error,\n"
      "3 the app did not become quiet in time, 130 interrupted.\n";
  return text;
}

}  // namespace fendrel::cli
