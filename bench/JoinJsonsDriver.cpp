// One whole rule-file merge in a process of its own, for JoinJsonsBench's whole-process pair:
//
//   JoinJsonsDriver OUTPUT LIST...           the app's rule compiler, with the benchmark's whitelist
//   JoinJsonsNlohmannDriver OUTPUT LIST...   the plain nlohmann-json merge, linked with nothing else
//
// Both are built from this file. Prints the process's peak resident size ("peakKiB=N", from
// VmHWM: the peak of this program's own memory, which starts afresh at exec, whereas the rusage
// peak a parent reads also holds what the parent had when it started the child). Exit status 0
// when the file was written.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "bench/JoinJsonsWork.h"
#ifndef JOIN_JSONS_NLOHMANN
#include "app/core/RuleCompiler/RuleCompiler.h"
#endif

namespace {

int finish(bool ok) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) std::printf("peakKiB=%ld\n", std::strtol(line.c_str() + 6, nullptr, 10));
  }
  return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s OUTPUT LIST...\n", argv[0]);
    return 2;
  }
  const std::string output = argv[1];
  std::vector<std::string> files(argv + 2, argv + argc);
#ifdef JOIN_JSONS_NLOHMANN
  return finish(join_jsons::nlohmannJoin(files, join_jsons::whitelistSites(), output));
#else
  std::vector<fendrel::CachedRuleList> lists;
  for (std::size_t i = 0; i < files.size(); ++i) {
    lists.push_back({foundation::URL::fileURL(files[i]), "list" + std::to_string(i), "List"});
  }
  auto report = fendrel::compileRuleFile({.output = foundation::URL::fileURL(output),
                                          .lists = std::move(lists),
                                          .whitelist = fendrel::RuleWhitelist::make(join_jsons::whitelistSites()),
                                          .builtInRuleFile = std::nullopt});
  return finish(report.ok());
#endif
}
