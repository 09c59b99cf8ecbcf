#include "app/core/RuleCompiler/RuleCompiler.h"

#include <utility>

#include "app/core/RuleCompiler/RuleChecker.h"
#include "app/core/RuleCompiler/RuleFileWriting.h"
#include "app/core/RuleCompiler/RuleListReading.h"
#include "json/JSON.h"
#include "platform/foundation/FileManager.h"

namespace fendrel {
namespace {

/// Sorts one rule into its bucket, or drops it, or leaves it out and counts why.
foundation::Result<void> bucketRule(foundation::Value raw, const RuleWhitelist& whitelist, RuleBuckets& buckets,
                                    LeftOutRules& leftOut) {
  const foundation::Value& typeValue = raw["action"]["type"];
  const std::string* type = typeValue.string();
  if (!type) {
    // Without a string action type the rule cannot be sorted; it is malformed, not of another kind.
    auto fault = checkRule(raw);
    ++leftOut.byFault[static_cast<std::size_t>(fault.value_or(RuleFault::NoActionType))];
    return {};
  }
  auto bucket = bucketForActionType(*type);
  if (!bucket) return {};
  auto kept = applyWhitelist(json::JSON(std::move(raw)), whitelist);
  if (!kept) return {};
  if (auto fault = checkRule(kept->object())) {
    ++leftOut.byFault[static_cast<std::size_t>(*fault)];
    return {};
  }
  return buckets.add(*bucket, *kept);
}

/// Bytes reserved for the rule file per byte of list files. Rules are copied as they are (only
/// "if-domain" lists can shrink), so the file is at most about as large as its lists; compact
/// writing usually makes it smaller. The reserve costs address space only (see RuleBuckets).
constexpr std::size_t kReservedBytesPerListByte = 1;
constexpr std::size_t kReservedExtraBytes = 4096;

std::size_t listBytes(const std::vector<CachedRuleList>& lists) {
  std::size_t total = 0;
  for (const auto& list : lists) {
    auto attributes = foundation::FileManager::defaultManager().attributesOfItem(list.file.path());
    if (attributes) total += attributes->size;
  }
  return total;
}

}  // namespace

foundation::Result<BucketedRules> bucketRules(const std::vector<CachedRuleList>& lists, const RuleWhitelist& whitelist) {
  BucketedRules result{RuleBuckets(listBytes(lists) * kReservedBytesPerListByte + kReservedExtraBytes), {}};
  for (const auto& list : lists) {
    RuleList rules = readRuleList(list.file);
    LeftOutRules leftOut{list.listID, list.listName, {}};
    for (auto& rule : rules.rules) {
      if (auto added = bucketRule(std::move(rule), whitelist, result.buckets, leftOut); !added) return added.error();
    }
    if (leftOut.total() > 0) result.report.leftOut.push_back(std::move(leftOut));
  }
  // The exception rule only lifts other rules: with none kept, the built-in file is installed as is.
  auto exception = result.buckets.empty() ? std::nullopt : whitelistExceptionRule(whitelist);
  if (exception) {
    if (auto added = result.buckets.add(RuleBucket::IgnorePreviousRules, json::JSON(std::move(*exception))); !added) {
      return added.error();
    }
  }
  result.report.writtenRules = result.buckets.totalCount();
  return result;
}

foundation::Result<RuleCompilationReport> compileRuleFile(const RuleCompilerInputs& inputs) {
  auto bucketed = bucketRules(inputs.lists, inputs.whitelist);
  if (!bucketed) return bucketed.error();
  RuleCompilationReport report = std::move(bucketed->report);
  if (auto written = writeRuleFile(std::move(bucketed->buckets), inputs.output, inputs.builtInRuleFile); !written) {
    return written.error();
  }
  return report;
}

}  // namespace fendrel
