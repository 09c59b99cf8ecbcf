// Runs the fendrel-browser program on a fresh device root and checks what it answers.

#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "testing/ProgramRun.h"
#include "testing/TemporaryFolder.h"

namespace {

using ::testing::HasSubstr;

using ToolRun = testing_support::ProgramRun;

class BrowserToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = work_ + "/device";
    std::filesystem::create_directories(work_ + "/Quellbox.appex");
    std::ofstream(work_ + "/libQuellbox.so") << "not loaded by these tests";
  }

  ToolRun tool(std::vector<std::string> args) {
    args.insert(args.begin(), FENDREL_BROWSER_TOOL);
    return testing_support::runProgram(args, testing_support::environmentWith({{"FENDREL_DEVICE_ROOT", root_}}),
                                       work_);
  }

  testing_support::TemporaryFolder workFolder_{"fendrel-browser-tool"};
  std::string work_ = workFolder_.path();
  std::string root_;
};

TEST_F(BrowserToolTest, InstallRefusesPathsThatHoldNothingAndTheStateFollowsTheSwitch) {
  const std::string plugin = work_ + "/libQuellbox.so", bundle = work_ + "/Quellbox.appex";
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string message;
  };
  const Case refused[] = {
      {{"install", "ext.id", work_ + "/missing.so", bundle}, 1, "no plug-in file at"},
      {{"install", "ext.id", plugin, work_ + "/missing.appex"}, 1, "no bundle folder at"},
      {{"install", "ext.id", bundle, bundle}, 1, "no plug-in file at"},
  };
  for (const Case& c : refused) {
    SCOPED_TRACE(c.args[2] + " " + c.args[3]);
    ToolRun run = tool(c.args);
    EXPECT_EQ(run.status, c.status);
    EXPECT_THAT(run.err, HasSubstr(c.message));
  }
  EXPECT_EQ(tool({"state", "ext.id"}).status, 1) << "a refused install records nothing";

  ASSERT_EQ(tool({"install", "ext.id", plugin, bundle}).status, 0);
  EXPECT_EQ(tool({"state", "ext.id"}).out, "disabled\n");
  ASSERT_EQ(tool({"set-enabled", "ext.id", "on"}).status, 0);
  EXPECT_EQ(tool({"state", "ext.id"}).out, "enabled\n");
}

TEST_F(BrowserToolTest, HelpAnywhereAndUsageErrors) {
  ToolRun help = tool({"state", "ext.id", "--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_THAT(help.out, HasSubstr("Usage: fendrel-browser"));

  ToolRun typo = tool({"relaod", "ext.id"});
  EXPECT_EQ(typo.status, 2);
  EXPECT_THAT(typo.err, HasSubstr("did you mean 'reload'?"));
  EXPECT_THAT(typo.err, HasSubstr("Try 'fendrel-browser --help' for more information."));
}

}  // namespace
