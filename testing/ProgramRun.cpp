#include "testing/ProgramRun.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <sstream>

#include "platform/foundation/SystemCalls.h"

extern char** environ;

namespace testing_support {

std::map<std::string, std::string> environmentWith(const std::map<std::string, std::string>& overrides) {
  std::map<std::string, std::string> env;
  for (char** entry = environ; *entry; ++entry) {
    const std::string text(*entry);
    const auto eq = text.find('=');
    env[text.substr(0, eq)] = eq == std::string::npos ? "" : text.substr(eq + 1);
  }
  for (const auto& [key, value] : overrides) env[key] = value;
  return env;
}

pid_t startProgram(const std::vector<std::string>& arguments, const std::map<std::string, std::string>& environment,
                   const std::string& workFolder) {
  std::vector<std::string> args = arguments;
  std::vector<std::string> envText;
  for (const auto& [key, value] : environment) envText.push_back(key + "=" + value);
  std::vector<char*> argv, envp;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  for (auto& entry : envText) envp.push_back(entry.data());
  envp.push_back(nullptr);

  const std::string outPath = workFolder + "/stdout", errPath = workFolder + "/stderr";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = 0;
  const bool started =
      !argv.empty() && argv[0] && posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) == 0;
  posix_spawn_file_actions_destroy(&actions);
  return started ? pid : -1;
}

ProgramRun finishProgram(pid_t pid, const std::string& workFolder) {
  ProgramRun run;
  if (pid > 0) {
    int status = 0;
    foundation::retryOnInterrupt([&] { return ::waitpid(pid, &status, 0); });
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  run.out = readText(workFolder + "/stdout");
  run.err = readText(workFolder + "/stderr");
  return run;
}

ProgramRun runProgram(const std::vector<std::string>& arguments,
                      const std::map<std::string, std::string>& environment, const std::string& workFolder) {
  return finishProgram(startProgram(arguments, environment, workFolder), workFolder);
}

double processStartTime(pid_t pid) {
  const std::string stat = readText("/proc/" + std::to_string(pid) + "/stat");
  // The command name, in parentheses, may hold spaces: the fields are counted after it.
  const auto nameEnd = stat.rfind(')');
  if (nameEnd == std::string::npos || nameEnd + 2 > stat.size()) return 0;
  std::istringstream fields(stat.substr(nameEnd + 2));
  const std::vector<std::string> list{std::istream_iterator<std::string>(fields), {}};
  constexpr std::size_t kStartTimeField = 22, kFirstFieldAfterName = 3;
  if (list.size() <= kStartTimeField - kFirstFieldAfterName) return 0;
  const double ticks = std::stod(list[kStartTimeField - kFirstFieldAfterName]);
  timespec now{}, sinceBoot{};
  clock_gettime(CLOCK_REALTIME, &now);
  clock_gettime(CLOCK_BOOTTIME, &sinceBoot);
  const double bootedAt = (static_cast<double>(now.tv_sec) + now.tv_nsec / 1e9) -
                          (static_cast<double>(sinceBoot.tv_sec) + sinceBoot.tv_nsec / 1e9);
  return bootedAt + ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

std::string readText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace testing_support
