#pragma once
#include <optional>
#include <string>
#include <vector>

#include "app/core/RuleCompiler/CachedListSelection.h"
#include "app/core/RuleCompiler/RuleBuckets.h"
#include "app/core/RuleCompiler/RuleCheckReport.h"
#include "app/core/RuleCompiler/WhitelistRewrite.h"
#include "platform/foundation/Result.h"
#include "platform/foundation/URL.h"

namespace fendrel {

/// Everything one compilation reads, gathered before it starts.
struct RuleCompilerInputs {
  /// Where the rule file goes ("output.json" in the app-group container).
  foundation::URL output;
  /// The cached list files, in visit order (selectCachedLists).
  std::vector<CachedRuleList> lists;
  RuleWhitelist whitelist;
  /// The app's built-in rule file, installed when no rule is kept; none when the bundle has none.
  std::optional<foundation::URL> builtInRuleFile;
};

/// Reads every list and sorts its rules into buckets:
///   - a rule of another action type than the three bucketed ones is dropped, as is a rule whose
///     "if-domain" the whitelist empties (applyWhitelist);
///   - a rule the browser would refuse (checkRule), including one without an action type, is left
///     out and counted in the report under its list and fault;
///   - when the whitelist has rule domains and any rule was kept, the whitelist's exception rule
///     (whitelistExceptionRule) goes last.
/// Each list is read a bounded window at a time and the window's rules parsed as one batch, by one
/// parser reused for every list and, with the window, kept for the process's next compilation;
/// kept rules go to `buckets` as they are found, so memory stays the same whatever the size and
/// number of the lists. A list that is not one JSON array (found malformed perhaps only near its
/// end) gives back what it added and is read as a whole instead. Fails only when a kept rule
/// cannot be written as JSON.
foundation::Result<RuleCompilationReport> bucketRules(const std::vector<CachedRuleList>& lists,
                                                      const RuleWhitelist& whitelist, RuleBuckets& buckets);

/// The whole compilation: bucketRules, then writeRuleFile. The report says which rules were left out.
foundation::Result<RuleCompilationReport> compileRuleFile(const RuleCompilerInputs& inputs);

}  // namespace fendrel
