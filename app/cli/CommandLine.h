#pragma once
#include <optional>
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

/// One parsed command line.
struct Invocation {
  bool help = false;
  /// "launch", "lists", "enable", "disable", "whitelist", "compile", "state" or "demo".
  std::string command;
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
