// The browser's run of an extension host that misbehaves: each fault fails the request with the
// loading-interrupted error and its reason, within the time limit, and never hangs the browser.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/browser/BrowserError.h"
#include "platform/browser/detail/ExtensionHostProcess.h"

namespace {

class ExtensionHostProcessTests : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/fendrel-host-XXXXXX";
    work_ = ::mkdtemp(pattern);
    if (const char* previous = std::getenv("FENDREL_EXTENSION_HOST")) previousHost_ = previous;
  }
  void TearDown() override {
    if (previousHost_.empty()) {
      ::unsetenv("FENDREL_EXTENSION_HOST");
    } else {
      ::setenv("FENDREL_EXTENSION_HOST", previousHost_.c_str(), 1);
    }
    std::filesystem::remove_all(work_);
  }

  /// Makes the browser run a shell script with `body` as its extension host.
  void useHost(const std::string& body) {
    const std::string path = work_ + "/host.sh";
    std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
    ::chmod(path.c_str(), 0755);
    ::setenv("FENDREL_EXTENSION_HOST", path.c_str(), 1);
  }

  foundation::Result<browser::detail::HostAnswer> run(double timeLimitSeconds) {
    const browser::InstalledExtension extension{"com.morvit.Test.Blocker", work_ + "/plugin.so", work_};
    return browser::detail::runExtensionHost(extension, work_ + "/device", timeLimitSeconds);
  }

  std::string work_;
  std::string previousHost_;
};

TEST_F(ExtensionHostProcessTests, HostThatFailsToAnswerFailsTheRequestWithItsReason) {
  struct Case {
    const char* name;
    const char* script;
    const char* reason;
  };
  const Case cases[] = {
      {"crashes", "kill -SEGV $$", "the extension com.morvit.Test.Blocker ended with signal 11"},
      {"prints nothing", "exit 0", "the extension host gave no answer (exit status 0)"},
      {"fails with a message", "echo 'cannot load the plug-in' >&2; echo more >&2; exit 3",
       "the extension host gave no answer (cannot load the plug-in)"},
      {"prints no JSON", "echo hello", "the extension host gave no answer"},
      {"prints a JSON array", "echo '[1]'", "the extension host gave no answer"},
      {"answers without a rule file", "echo '{\"items\":[]}'", "answered without a rule file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    useHost(c.script);
    auto answer = run(30);
    ASSERT_FALSE(answer);
    EXPECT_EQ(answer.error().domain(), browser::kSFErrorDomain);
    EXPECT_NE(answer.error().localizedDescription().find(c.reason), std::string::npos)
        << answer.error().localizedDescription();
  }
}

TEST_F(ExtensionHostProcessTests, HostThatHangsIsKilledAtTheTimeLimit) {
  const struct {
    const char* name;
    const char* script;
  } cases[] = {
      {"keeps its output open", "exec sleep 30"},
      // Closed output is no answer yet: the host is still waited for, up to the limit.
      {"closes its output", "exec >&- 2>&-; exec sleep 30"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    useHost(c.script);
    const auto start = std::chrono::steady_clock::now();
    auto answer = run(0.5);
    const auto took = std::chrono::steady_clock::now() - start;
    ASSERT_FALSE(answer);
    EXPECT_TRUE(answer.error().is(browser::kSFErrorDomain,
                                  static_cast<std::int64_t>(browser::SFErrorCode::LoadingInterrupted)));
    EXPECT_NE(answer.error().localizedDescription().find("did not answer in time"), std::string::npos)
        << answer.error().localizedDescription();
    EXPECT_LT(took, std::chrono::seconds(10));
  }
}

TEST_F(ExtensionHostProcessTests, HostThatAnswersAndThenLingersIsNotWaitedFor) {
  // The host answers, closes its output and goes on for 5 s, as while its crash reporter sends
  // a session to a host that does not resolve. No request waits for that.
  useHost("echo '{\"items\":[{\"attachments\":[{\"path\":\"/rules.json\",\"size\":7}]}]}'; "
          "exec >&- 2>&-; exec sleep 5");
  int waited = 0;
  for (int i = 0; i < 20; ++i) {
    const auto start = std::chrono::steady_clock::now();
    auto answer = run(20);
    ASSERT_TRUE(answer) << answer.error().localizedDescription();
    EXPECT_EQ(answer->attachmentPath, "/rules.json");
    if (std::chrono::steady_clock::now() - start >= std::chrono::seconds(5)) ++waited;
  }
  EXPECT_EQ(waited, 0);
}

}  // namespace
