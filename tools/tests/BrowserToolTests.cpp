// Runs the fendrel-browser program on a fresh device root and checks what it answers.

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

using ::testing::HasSubstr;

struct ToolRun {
  int status = -1;
  std::string out;
  std::string err;
};

std::string readText(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class BrowserToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/fendrel-browser-tool-XXXXXX";
    work_ = ::mkdtemp(pattern);
    root_ = work_ + "/device";
    std::filesystem::create_directories(work_ + "/Quellbox.appex");
    std::ofstream(work_ + "/libQuellbox.so") << "not loaded by these tests";
  }
  void TearDown() override { std::filesystem::remove_all(work_); }

  ToolRun tool(std::vector<std::string> args) {
    std::vector<std::string> env;
    for (char** entry = environ; *entry; ++entry) {
      if (!std::string_view(*entry).starts_with("FENDREL_DEVICE_ROOT=")) env.emplace_back(*entry);
    }
    env.push_back("FENDREL_DEVICE_ROOT=" + root_);
    args.insert(args.begin(), FENDREL_BROWSER_TOOL);
    std::vector<char*> argv, envp;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    for (auto& entry : env) envp.push_back(entry.data());
    envp.push_back(nullptr);
    const std::string outPath = work_ + "/stdout", errPath = work_ + "/stderr";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ToolRun run;
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) == 0) {
      int status = 0;
      ::waitpid(pid, &status, 0);
      run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    posix_spawn_file_actions_destroy(&actions);
    run.out = readText(outPath);
    run.err = readText(errPath);
    return run;
  }

  std::string work_;
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
