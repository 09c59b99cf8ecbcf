#pragma once
// Test support: runs a built program as a child process and captures what it prints, and reads
// small files whole. For tests only.

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

namespace testing_support {

/// What a finished child process left: its exit status (128 + signal when a signal ended it, -1
/// when it could not be started) and everything it wrote to standard output and error.
struct ProgramRun {
  int status = -1;
  std::string out;
  std::string err;
};

/// The current process's environment, with each variable of `overrides` set to its value.
std::map<std::string, std::string> environmentWith(const std::map<std::string, std::string>& overrides);

/// Runs `arguments` (the program's path first) with `environment`, waits for it, and returns what
/// it printed. Standard output and error go through files in `workFolder`.
ProgramRun runProgram(const std::vector<std::string>& arguments,
                      const std::map<std::string, std::string>& environment, const std::string& workFolder);

/// Starts `arguments` as runProgram does, without waiting; the process id, or -1 when it could not
/// be started. finishProgram waits for it and collects what it printed.
pid_t startProgram(const std::vector<std::string>& arguments, const std::map<std::string, std::string>& environment,
                   const std::string& workFolder);
ProgramRun finishProgram(pid_t pid, const std::string& workFolder);

/// When process `pid` started, in seconds since 1970, from the kernel's record of it: the clock
/// ticks since boot of /proc/<pid>/stat placed on the wall clock by the time since boot. 0 when
/// the record cannot be read.
double processStartTime(pid_t pid);

/// The whole file at `path`, or "" when it cannot be read.
std::string readText(const std::string& path);

}  // namespace testing_support
