#pragma once
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Result.h"
#include "tools/common/CommandLineSuggestion.h"

namespace fendrel::cli {

/// The program's name in messages.
inline constexpr const char* kProgram = "fendrel";

/// Exit statuses.
enum ExitStatus : int {
  kExitSuccess = 0,
  kExitFailure = 1,      ///< what the command asked for failed
  kExitUsage = 2,        ///< the command line was wrong
  kExitTimeout = 3,      ///< the app did not become quiet in time
  kExitInterrupted = 130,
};

/// How long a command waits for the app to become quiet unless --timeout says otherwise: long
/// enough for a slow list server and the browser's bounded reload retries.
inline constexpr double kDefaultTimeoutSeconds = 120;

struct Invocation;

/// How the words after a command's name look.
enum class CommandArguments {
  None,
  ListID,           ///< one filter-list identifier
  WhitelistAction,  ///< list, add SITE, remove N, enable N or disable N
};

/// One command of the program. The table of commands is the one place that knows them: the
/// parser checks names and arguments against it, --help prints its lines, main runs its handler.
struct Command {
  std::string_view name;
  CommandArguments arguments;
  /// The command's lines in the commands section of --help, each ending in a line break.
  std::string_view help;
  /// Runs the command; returns the exit status.
  int (*run)(const Invocation& invocation);
};

/// Every command, in the order of --help.
std::span<const Command> commandTable();

/// One parsed command line.
struct Invocation {
  bool help = false;
  /// The command's name as given.
  std::string command;
  /// The command's entry of commandTable(); set whenever parsing succeeded without --help.
  const Command* entry = nullptr;
  /// The command's arguments: the list ID; the whitelist action and its site or position.
  std::vector<std::string> arguments;
  /// The device root given with --device.
  std::optional<std::string> device;
  double timeoutSeconds = kDefaultTimeoutSeconds;
  /// compile --force.
  bool force = false;
};

/// Parses the arguments after the program name. Options may stand before or after the command;
/// "--" ends the options. A usage error comes back as an error whose description is the message
/// to print (without the program's name).
foundation::Result<Invocation> parseCommandLine(const std::vector<std::string>& arguments);

/// The text of --help.
std::string usageText();

/// A whitelist position argument: a whole number from 0; none for anything else.
std::optional<std::int64_t> parsePosition(std::string_view text);

}  // namespace fendrel::cli
