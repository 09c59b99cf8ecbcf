#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "app/cli/CLIError.h"
#include "app/cli/CommandLine.h"

namespace fendrel::cli {
namespace {

TEST(CommandLineTests, AcceptedCommandLines) {
  struct Case {
    std::vector<std::string> args;
    std::string command;
    std::vector<std::string> arguments;
    std::optional<std::string> device;
    double timeoutSeconds;
    bool force;
  };
  const Case cases[] = {
      {{"launch"}, "launch", {}, std::nullopt, kDefaultTimeoutSeconds, false},
      // Options stand before or after the command, with their value attached or as the next word.
      {{"--device", "/d", "enable", "easylist"}, "enable", {"easylist"}, "/d", kDefaultTimeoutSeconds, false},
      {{"compile", "--force", "--timeout=2.5", "--device=/e"}, "compile", {}, "/e", 2.5, true},
      {{"whitelist", "add", "example.com"}, "whitelist", {"add", "example.com"}, std::nullopt, 120, false},
      {{"whitelist", "remove", "0"}, "whitelist", {"remove", "0"}, std::nullopt, 120, false},
      // After "--" a word that looks like an option is an argument.
      {{"whitelist", "add", "--", "--odd"}, "whitelist", {"add", "--odd"}, std::nullopt, 120, false},
      {{"disable", "-"}, "disable", {"-"}, std::nullopt, 120, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    auto parsed = parseCommandLine(c.args);
    ASSERT_TRUE(parsed) << parsed.error().localizedDescription();
    EXPECT_FALSE(parsed->help);
    EXPECT_EQ(parsed->command, c.command);
    ASSERT_NE(parsed->entry, nullptr);
    EXPECT_EQ(parsed->entry->name, c.command);
    EXPECT_EQ(parsed->arguments, c.arguments);
    EXPECT_EQ(parsed->device, c.device);
    EXPECT_EQ(parsed->timeoutSeconds, c.timeoutSeconds);
    EXPECT_EQ(parsed->force, c.force);
  }
}

TEST(CommandLineTests, HelpWinsOverEverythingElse) {
  for (const std::vector<std::string>& args : {std::vector<std::string>{"--help"}, {"-h", "lanch", "x", "y"}}) {
    auto parsed = parseCommandLine(args);
    ASSERT_TRUE(parsed);
    EXPECT_TRUE(parsed->help);
  }
}

TEST(CommandLineTests, UsageErrorsSayWhatIsWrong) {
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const Case cases[] = {
      {{}, "missing command"},
      {{"lanch"}, "unknown command 'lanch' (did you mean 'launch'?)"},
      {{"enable"}, "missing list ID for 'enable'"},
      {{"launch", "extra"}, "unexpected argument 'extra'"},
      {{"--devise", "/d", "launch"}, "unrecognized option '--devise' (did you mean '--device'?)"},
      {{"launch", "--device"}, "option '--device' needs a value"},
      {{"launch", "--device="}, "option '--device' needs a folder"},
      {{"launch", "--timeout", "0"}, "invalid timeout '0': expected a number of seconds above 0"},
      {{"launch", "--timeout=inf"}, "invalid timeout 'inf': expected a number of seconds above 0"},
      {{"launch", "--timeout=5s"}, "invalid timeout '5s': expected a number of seconds above 0"},
      {{"launch", "--force"}, "option '--force' applies only to 'compile'"},
      {{"whitelist"}, "missing whitelist action (list, add, remove, enable or disable)"},
      {{"whitelist", "ad", "x"}, "unknown whitelist action 'ad' (did you mean 'add'?)"},
      {{"whitelist", "add"}, "missing site for 'whitelist add'"},
      {{"whitelist", "add", ""}, "the site for 'whitelist add' is empty"},
      {{"whitelist", "enable"}, "missing position for 'whitelist enable'"},
      {{"whitelist", "list", "1"}, "unexpected argument '1'"},
      {{"whitelist", "remove", "first"}, "invalid position 'first': expected a whole number from 0"},
      {{"whitelist", "enable", "-1"}, "invalid position '-1': expected a whole number from 0"},
      {{"whitelist", "disable", "99999999999999999999"},
       "invalid position '99999999999999999999': expected a whole number from 0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.args));
    auto parsed = parseCommandLine(c.args);
    ASSERT_FALSE(parsed);
    EXPECT_EQ(parsed.error().domain(), kCommandLineErrorDomain);
    EXPECT_EQ(parsed.error().code(), kExitUsage);
    EXPECT_EQ(parsed.error().localizedDescription(), c.message);
  }
}

}  // namespace
}  // namespace fendrel::cli
