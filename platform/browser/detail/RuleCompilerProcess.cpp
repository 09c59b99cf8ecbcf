#include "platform/browser/detail/RuleCompilerProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <vector>

#include "platform/browser/BrowserError.h"
#include "platform/browser/detail/BrowserFiles.h"
#include "platform/dispatch/Thread.h"
#include "platform/foundation/SystemCalls.h"
#include "platform/dispatch/Clock.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/JSONSerialization.h"

namespace browser::detail {

namespace {

constexpr const char* kCompilerProgramName = "fendrel-browser-compiler";
constexpr const char* kFolderPrefix = "compile-";

/// Removes the compile folders under `tmpFolder` whose owner is gone: a folder whose lock can be
/// taken has nobody compiling in it. Runs under the browser folder's lock, as does the making of
/// a folder, so a folder is never swept between being made and being locked.
void sweepAbandonedFolders(const std::string& tmpFolder) {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(tmpFolder, error)) {
    if (!entry.path().filename().string().starts_with(kFolderPrefix)) continue;
    int fd = ::open(entry.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
    if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      ::close(fd);
      continue;
    }
    std::filesystem::remove_all(entry.path(), error);
    if (fd >= 0) ::close(fd);
  }
}

/// Waits for the compiler to end, or for the deadline on the process clock. A watcher thread
/// waits for the exit without reaping it, so the pid stays the compiler's until it is reaped
/// here, and a kill on time-out can never reach another process. Returns true on time-out.
bool waitForExit(pid_t pid, double deadline) {
  std::mutex mutex;
  std::condition_variable changed;
  bool exited = false;
  std::thread watcher = dispatch::startThread("browser-compile", [&] {
    siginfo_t info{};
    foundation::retryOnInterrupt([&] { return ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT); });
    std::lock_guard lock(mutex);
    exited = true;
    changed.notify_all();
  });
  bool timedOut = false;
  {
    std::unique_lock lock(mutex);
    if (!dispatch::Clock::current().waitUntil(changed, lock, deadline, [&] { return exited; })) {
      ::kill(pid, SIGKILL);
      timedOut = true;
    }
  }
  watcher.join();
  return timedOut;
}

std::string firstLine(const std::string& text) {
  std::string line = text.substr(0, text.find('\n'));
  return line.size() > 300 ? line.substr(0, 300) : line;
}

/// Turns the compiler's answer line into the outcome it reports.
foundation::Result<void> outcomeOf(const std::string& answerText, int status, const std::string& diagnostics) {
  auto parsed = foundation::JSONSerialization::JSONObjectWithData(firstLine(answerText));
  if (!parsed || !parsed->dictionary()) {
    std::string detail = "exit status " + std::to_string(status);
    if (!diagnostics.empty()) detail += ": " + firstLine(diagnostics);
    return loadingInterrupted("the browser's compiler gave no answer (" + detail + ")");
  }
  const foundation::Value& answer = *parsed;
  if (answer["compiled"].asBool() == true) return foundation::Result<void>::success();
  if (const foundation::Dictionary* error = answer["error"].dictionary()) {
    return foundation::Error::withDescription((*error)["domain"].asString().value_or("WebKitUserContentFilterError"),
                                              (*error)["code"].asInt64().value_or(0),
                                              (*error)["description"].asString().value_or(""));
  }
  return loadingInterrupted("the browser's compiler failed: " + answer["failure"].asString().value_or("no reason given"));
}

}  // namespace

foundation::Result<CompileFolder> CompileFolder::create(const std::string& browserFolder) {
  FolderLock lock(browserFolder);
  const std::string tmpFolder = browserFolder + "/tmp";
  auto created = foundation::FileManager::defaultManager().createDirectory(tmpFolder, foundation::Intermediates::Yes);
  if (!created) return created.error();
  sweepAbandonedFolders(tmpFolder);

  std::string pattern = tmpFolder + "/" + kFolderPrefix + "XXXXXX";
  if (!::mkdtemp(pattern.data())) {
    return loadingInterrupted("cannot create a compile folder in " + tmpFolder + ": " + std::strerror(errno));
  }
  int fd = ::open(pattern.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0 || foundation::retryOnInterrupt([&] { return ::flock(fd, LOCK_EX); }) != 0) {
    int error = errno;
    if (fd >= 0) ::close(fd);
    std::error_code ignored;
    std::filesystem::remove_all(pattern, ignored);
    return loadingInterrupted("cannot lock the compile folder " + pattern + ": " + std::strerror(error));
  }
  return CompileFolder(std::move(pattern), fd);
}

CompileFolder::CompileFolder(CompileFolder&& other) noexcept
    : path_(std::move(other.path_)), lockFd_(std::exchange(other.lockFd_, -1)) {}

CompileFolder::~CompileFolder() {
  if (lockFd_ < 0) return;
  // Removed while still locked, so that no sweep of another browser can meet it half-removed.
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
  ::close(lockFd_);
}

std::string ruleCompilerPath() {
#ifdef FENDREL_RULE_COMPILER_BUILT
  return helperProgramPath("FENDREL_BROWSER_COMPILER", kCompilerProgramName, FENDREL_RULE_COMPILER_BUILT);
#else
  return helperProgramPath("FENDREL_BROWSER_COMPILER", kCompilerProgramName, nullptr);
#endif
}

foundation::Result<void> runRuleCompiler(const CompileFolder& folder, const std::string& storageFolder,
                                         const std::string& identifier, const std::string& sourcePath,
                                         CompilerFault fault, double timeLimitSeconds, bool* timedOutAnswer) {
  auto created = foundation::FileManager::defaultManager().createDirectory(storageFolder,
                                                                          foundation::Intermediates::Yes);
  if (!created) return created.error();

  const std::string answerPath = folder.path() + "/answer.json";
  const std::string diagnosticsPath = folder.path() + "/compiler.log";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, answerPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, diagnosticsPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);

  const std::string compiler = ruleCompilerPath();
  std::vector<std::string> args = {compiler};
  if (fault != CompilerFault::None) {
    args.push_back("--fault");
    args.push_back(fault == CompilerFault::Abort ? "abort" : "hang");
  }
  args.insert(args.end(), {storageFolder, identifier, sourcePath});
  // The compiler works in the compile folder: TMPDIR points there.
  std::vector<std::string> env = environmentWith({{"TMPDIR", folder.path()}});
  auto argv = spawnPointers(args);
  auto envp = spawnPointers(env);
  // The deadline counts from the start, whatever the clock does while the process is made.
  double deadline = dispatch::Clock::current().deadlineAfter(timeLimitSeconds);
  pid_t pid = 0;
  int spawnError = ::posix_spawn(&pid, compiler.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawnError != 0) {
    return loadingInterrupted("cannot run the browser's compiler " + compiler + ": " + std::strerror(spawnError));
  }

  bool timedOut = waitForExit(pid, deadline);
  int status = 0;
  bool reaped = foundation::retryOnInterrupt([&] { return ::waitpid(pid, &status, 0); }) == pid;
  if (timedOutAnswer) *timedOutAnswer = timedOut;
  if (timedOut) {
    return loadingInterrupted("the browser's compiler did not finish within " +
                       std::to_string(static_cast<long long>(std::ceil(timeLimitSeconds))) + " seconds");
  }
  if (reaped && WIFSIGNALED(status)) {
    return loadingInterrupted("the browser's compiler stopped: signal " + std::to_string(WTERMSIG(status)));
  }
  auto& files = foundation::FileManager::defaultManager();
  auto answer = files.readFile(answerPath);
  auto diagnostics = files.readFile(diagnosticsPath);
  return outcomeOf(answer ? std::string(answer->view()) : std::string(),
                   reaped && WIFEXITED(status) ? WEXITSTATUS(status) : -1,
                   diagnostics ? std::string(diagnostics->view()) : std::string());
}

}  // namespace browser::detail
