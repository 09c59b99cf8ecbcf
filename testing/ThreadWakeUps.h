#pragma once
// How often the calling thread has gone to sleep and been woken, read from the kernel's count of
// its voluntary context switches. Tests of idle loops compare it before and after a quiet spell.

#include <filesystem>
#include <fstream>
#include <string>

namespace testing_support {

/// The voluntary context switches a thread's status file gives, or -1 when it does not say.
inline long voluntaryContextSwitchesIn(const std::filesystem::path& statusFile) {
  std::ifstream status(statusFile);
  const std::string key = "voluntary_ctxt_switches:";
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(key, 0) == 0) return std::stol(line.substr(key.size()));
  }
  return -1;
}

/// The calling thread's voluntary context switches so far, or -1 when the kernel does not say.
inline long voluntaryContextSwitches() { return voluntaryContextSwitchesIn("/proc/thread-self/status"); }

/// The voluntary context switches of the process's thread named `name`, or -1 when there is none.
inline long voluntaryContextSwitchesOfThread(const std::string& name) {
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    std::string comm;
    std::getline(std::ifstream(task.path() / "comm"), comm);
    if (comm == name) return voluntaryContextSwitchesIn(task.path() / "status");
  }
  return -1;
}

}  // namespace testing_support
