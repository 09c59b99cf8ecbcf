#pragma once
#include <array>
#include <cstddef>
#include <string>
#include <vector>

#include "app/core/RuleCompiler/RuleChecker.h"

namespace fendrel {

/// The rules of one list that the compiler left out because the browser would refuse them.
struct LeftOutRules {
  /// The list's identifier and name, as the catalogue has them.
  std::string listID;
  std::string listName;
  /// How many rules were left out for each fault (indexed by RuleFault).
  std::array<std::size_t, kRuleFaultCount> byFault{};

  std::size_t total() const {
    std::size_t sum = 0;
    for (auto count : byFault) sum += count;
    return sum;
  }
};

/// How many rules of one list a compilation kept.
struct KeptRules {
  std::string listID;
  std::string listName;
  std::size_t count = 0;
};

/// What one compilation reports besides the rule file.
struct RuleCompilationReport {
  /// One entry per list read, in the order the lists were read.
  std::vector<KeptRules> kept;
  /// One entry per list that had rules left out, in the order the lists were read.
  std::vector<LeftOutRules> leftOut;
  /// The rules written to the file (the whitelist's exception rule included).
  std::size_t writtenRules = 0;
};

}  // namespace fendrel
