// One whole rule-file merge in a process of its own, for JoinJsonsBench's whole-process pair:
//
//   JoinJsonsDriver ours|nlohmann OUTPUT LIST...
//
// "ours" runs the app's rule compiler on the lists with the benchmark's whitelist; "nlohmann" runs
// the plain nlohmann-json merge. Exit status 0 when the file was written.

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/core/RuleCompiler/RuleCompiler.h"
#include "bench/JoinJsonsWork.h"

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s ours|nlohmann OUTPUT LIST...\n", argv[0]);
    return 2;
  }
  const std::string side = argv[1];
  const std::string output = argv[2];
  std::vector<std::string> files(argv + 3, argv + argc);
  if (side == "nlohmann") return join_jsons::nlohmannJoin(files, join_jsons::whitelistSites(), output) ? 0 : 1;
  if (side != "ours") return 2;
  std::vector<fendrel::CachedRuleList> lists;
  for (std::size_t i = 0; i < files.size(); ++i) {
    lists.push_back({foundation::URL::fileURL(files[i]), "list" + std::to_string(i), "List"});
  }
  auto report = fendrel::compileRuleFile({.output = foundation::URL::fileURL(output),
                                          .lists = std::move(lists),
                                          .whitelist = fendrel::RuleWhitelist::make(join_jsons::whitelistSites()),
                                          .builtInRuleFile = std::nullopt});
  return report ? 0 : 1;
}
