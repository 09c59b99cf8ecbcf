#include "platform/browser/detail/ExtensionHostProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/browser/BrowserError.h"
#include "platform/browser/detail/BrowserFiles.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/JSONSerialization.h"
#include "platform/foundation/SystemCalls.h"

namespace browser::detail {

namespace {

constexpr const char* kHostProgramName = "fendrel-extension-host";
// What the browser keeps of the host's output: the answer is one short line; diagnostics beyond
// this are dropped rather than letting a chatty plug-in grow the browser's memory.
constexpr std::size_t kMaxOutputBytes = 256 * 1024;

struct ChildOutput {
  std::string out;
  std::string err;
  bool timedOut = false;
};

using Deadline = std::chrono::steady_clock::time_point;

/// Reads both pipes until the child closes them or the deadline passes.
ChildOutput collectOutput(int outFd, int errFd, Deadline deadline) {
  ChildOutput result;
  pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open = 2;
  while (open > 0) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      result.timedOut = true;
      break;
    }
    int ready = foundation::retryOnInterrupt([&] { return ::poll(fds, 2, static_cast<int>(std::min<long long>(left.count(), 1000))); });
    if (ready < 0) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char buffer[8192];
      ssize_t n = foundation::retryOnInterrupt([&] { return ::read(fds[i].fd, buffer, sizeof buffer); });
      if (n <= 0) {
        fds[i].fd = -1;
        --open;
        continue;
      }
      if (sinks[i]->size() < kMaxOutputBytes) sinks[i]->append(buffer, static_cast<std::size_t>(n));
    }
  }
  return result;
}

/// True when the child `pid` has ended (it stays unreaped) or ends before `deadline`. Waits on a
/// process descriptor; without one (an old kernel) the child is taken to end.
bool exitsBefore(pid_t pid, Deadline deadline) {
  const int pidFd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  if (pidFd < 0) return true;
  foundation::FileDescriptor process(pidFd);
  pollfd wait = {process.get(), POLLIN, 0};
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    const int ready = foundation::retryOnInterrupt(
        [&] { return ::poll(&wait, 1, static_cast<int>(std::clamp<long long>(left.count(), 0, 1000))); });
    if (ready != 0) return true;
    if (left.count() <= 0) return false;
  }
}

/// The last non-empty line of the host's standard output, where it prints its answer.
std::string lastLine(const std::string& text) {
  std::size_t end = text.find_last_not_of("\r\n");
  if (end == std::string::npos) return {};
  std::size_t start = text.rfind('\n', end);
  return text.substr(start == std::string::npos ? 0 : start + 1, end - (start == std::string::npos ? 0 : start + 1) + 1);
}

std::string firstLine(const std::string& text) {
  std::string line = text.substr(0, text.find('\n'));
  return line.size() > 300 ? line.substr(0, 300) : line;
}

/// Turns the host's answer line into the attachment or the error it reports.
foundation::Result<HostAnswer> parseAnswer(const std::string& line, const std::string& identifier) {
  auto parsed = foundation::JSONSerialization::JSONObjectWithData(line);
  if (!parsed || !parsed->dictionary()) return loadingInterrupted("the extension host gave no answer");
  const foundation::Value& answer = *parsed;
  if (const foundation::Dictionary* cancel = answer["error"].dictionary()) {
    foundation::Error cause((*cancel)["domain"].asString().value_or("unknown"),
                            (*cancel)["code"].asInt64().value_or(0),
                            foundation::Dictionary{{foundation::kLocalizedDescriptionKey,
                                                    (*cancel)["description"].asString().value_or("")}});
    return foundation::Error(
        kSFErrorDomain, static_cast<std::int64_t>(SFErrorCode::LoadingInterrupted),
        foundation::Dictionary{{foundation::kLocalizedDescriptionKey,
                                "loading interrupted: the extension " + identifier + " cancelled the request: " +
                                    cause.localizedDescription()},
                               {foundation::kUnderlyingErrorKey, cause}});
  }
  if (auto failure = answer["hostError"].asString()) return loadingInterrupted(*failure);
  const foundation::Value& attachment = answer["items"][0]["attachments"][0];
  auto path = attachment["path"].asString();
  if (!path) {
    return makeSFError(SFErrorCode::NoAttachmentFound, "no attachment found: the extension " + identifier +
                                                           " answered without a rule file");
  }
  return HostAnswer{*path, attachment["size"].asUInt64().value_or(0)};
}

/// Waits in the background for a host that has answered to end, killing it at `deadline`, so
/// that it leaves no zombie.
void reapInBackground(pid_t pid, Deadline deadline) {
  std::thread([pid, deadline] {
    if (!exitsBefore(pid, deadline)) ::kill(pid, SIGKILL);
    int status = 0;
    foundation::retryOnInterrupt([&] { return ::waitpid(pid, &status, 0); });
  }).detach();
}

foundation::Result<HostAnswer> resultOf(const ChildOutput& output, int status, const InstalledExtension& extension);

}  // namespace

std::string extensionHostPath() {
#ifdef FENDREL_EXTENSION_HOST_BUILT
  return helperProgramPath("FENDREL_EXTENSION_HOST", kHostProgramName, FENDREL_EXTENSION_HOST_BUILT);
#else
  return helperProgramPath("FENDREL_EXTENSION_HOST", kHostProgramName, nullptr);
#endif
}

foundation::Result<HostAnswer> runExtensionHost(const InstalledExtension& extension, const std::string& deviceRoot,
                                                double timeLimitSeconds) {
  int outPipe[2], errPipe[2];
  if (::pipe2(outPipe, O_CLOEXEC) != 0) return loadingInterrupted(std::string("cannot create a pipe: ") + std::strerror(errno));
  if (::pipe2(errPipe, O_CLOEXEC) != 0) {
    int error = errno;
    ::close(outPipe[0]);
    ::close(outPipe[1]);
    return loadingInterrupted(std::string("cannot create a pipe: ") + std::strerror(error));
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);

  std::string host = extensionHostPath();
  std::vector<std::string> args = {host, extension.pluginPath, extension.bundlePath};
  std::vector<std::string> env =
      environmentWith({{"FENDREL_DEVICE_ROOT", deviceRoot}, {"FENDREL_MAIN_BUNDLE", extension.bundlePath}});
  auto argv = spawnPointers(args);
  auto envp = spawnPointers(env);
  pid_t pid = 0;
  int spawnError = ::posix_spawn(&pid, host.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(outPipe[1]);
  ::close(errPipe[1]);
  if (spawnError != 0) {
    ::close(outPipe[0]);
    ::close(errPipe[0]);
    return loadingInterrupted("cannot run the extension host " + host + ": " + std::strerror(spawnError));
  }

  const Deadline deadline =
      std::chrono::steady_clock::now() +
      std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(timeLimitSeconds));
  ChildOutput output = collectOutput(outPipe[0], errPipe[0], deadline);
  ::close(outPipe[0]);
  ::close(errPipe[0]);
  if (!output.timedOut) {
    // A host that answered and closed its output but still runs is sending its crash reporter's
    // session: the answer stands and the host is left to end on its own, within the same limit.
    int ended = 0;
    const pid_t reaped = foundation::retryOnInterrupt([&] { return ::waitpid(pid, &ended, WNOHANG); });
    if (reaped == 0) {
      std::string line = lastLine(output.out);
      auto answer = line.empty() ? foundation::Result<HostAnswer>(loadingInterrupted("no answer"))
                                 : parseAnswer(line, extension.identifier);
      if (answer) {
        reapInBackground(pid, deadline);
        return answer;
      }
    } else if (reaped == pid) {
      return resultOf(output, ended, extension);
    }
  }
  // A host that closed its output but keeps running is held to the same time limit.
  if (!output.timedOut && !exitsBefore(pid, deadline)) output.timedOut = true;
  if (output.timedOut) ::kill(pid, SIGKILL);
  int status = 0;
  foundation::retryOnInterrupt([&] { return ::waitpid(pid, &status, 0); });
  return resultOf(output, status, extension);
}

namespace {

/// The host's answer, from its output and exit status.
foundation::Result<HostAnswer> resultOf(const ChildOutput& output, int status, const InstalledExtension& extension) {
  if (output.timedOut) return loadingInterrupted("the extension " + extension.identifier + " did not answer in time");
  if (WIFSIGNALED(status)) {
    return loadingInterrupted("the extension " + extension.identifier + " ended with signal " +
                       std::to_string(WTERMSIG(status)));
  }
  std::string line = lastLine(output.out);
  if (line.empty()) {
    std::string detail = output.err.empty() ? "exit status " + std::to_string(WEXITSTATUS(status))
                                            : firstLine(output.err);
    return loadingInterrupted("the extension host gave no answer (" + detail + ")");
  }
  return parseAnswer(line, extension.identifier);
}

}  // namespace

}  // namespace browser::detail
