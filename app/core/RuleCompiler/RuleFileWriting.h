#pragma once
#include <optional>

#include "app/core/RuleCompiler/RuleBuckets.h"
#include "platform/foundation/Result.h"
#include "platform/foundation/URL.h"

namespace fendrel {

/// The last stage: puts the rule file in place at `output` in one step, so that a reader sees the
/// previous file or the new one, never a part.
///   - Rules kept: their file is completed and renamed over `output` (RuleBuckets::finish).
///   - No rule kept and a built-in rule file given: that file is copied byte for byte to a
///     temporary file of a unique name beside `output` and renamed over it; the temporary file is
///     removed when either step fails.
///   - No rule kept and no built-in file: "[]" is written.
/// Every failure is returned (the previous file then stays in place). Takes the buckets.
foundation::Result<void> writeRuleFile(RuleBuckets buckets, const foundation::URL& output,
                                       const std::optional<foundation::URL>& builtInRuleFile);

}  // namespace fendrel
