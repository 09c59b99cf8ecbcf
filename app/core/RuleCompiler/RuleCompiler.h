#pragma once
#include <optional>
#include <string>
#include <vector>

#include "app/core/RuleCompiler/RuleBuckets.h"
#include "app/core/RuleCompiler/WhitelistRewrite.h"
#include "platform/foundation/Result.h"
#include "platform/foundation/URL.h"

namespace fendrel {

/// Everything one compilation reads, gathered before it starts.
struct RuleCompilerInputs {
  /// Where the rule file goes ("output.json" in the app-group container).
  foundation::URL output;
  /// The cached list files, in visit order (selectCachedLists).
  std::vector<foundation::URL> listFiles;
  RuleWhitelist whitelist;
  /// The app's built-in rule file, installed when no rule is kept; none when the bundle has none.
  std::optional<foundation::URL> builtInRuleFile;
};

/// Reads every list, keeps the rules with a string action type of the three bucketed types,
/// applies the whitelist to each and sorts them into buckets. Fails only when a kept rule cannot be
/// written as JSON.
foundation::Result<RuleBuckets> bucketRules(const std::vector<foundation::URL>& listFiles,
                                            const RuleWhitelist& whitelist);

/// The whole compilation: bucketRules, then writeRuleFile.
foundation::Result<void> compileRuleFile(const RuleCompilerInputs& inputs);

}  // namespace fendrel
