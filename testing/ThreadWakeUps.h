#pragma once
// How often the calling thread has gone to sleep and been woken, read from the kernel's count of
// its voluntary context switches. Tests of idle loops compare it before and after a quiet spell.

#include <fstream>
#include <string>

namespace testing_support {

/// The calling thread's voluntary context switches so far, or -1 when the kernel does not say.
inline long voluntaryContextSwitches() {
  std::ifstream status("/proc/thread-self/status");
  const std::string key = "voluntary_ctxt_switches:";
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(key, 0) == 0) return std::stol(line.substr(key.size()));
  }
  return -1;
}

}  // namespace testing_support
