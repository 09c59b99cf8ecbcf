#include "app/core/RuleCompiler/RuleCompiler.h"

#include <utility>

#include "app/core/RuleCompiler/RuleFileWriting.h"
#include "app/core/RuleCompiler/RuleListReading.h"
#include "json/JSON.h"
#include "platform/foundation/FileManager.h"

namespace fendrel {
namespace {

/// Sorts one rule: dropped without a string action type or with a type of no bucket, or when the
/// whitelist empties it; otherwise added to its bucket after the whitelist changed it.
foundation::Result<void> bucketRule(foundation::Value raw, const RuleWhitelist& whitelist, RuleBuckets& buckets) {
  json::JSON rule(std::move(raw));
  auto type = rule.get({"action", "type"}).string();
  if (!type) return {};
  auto bucket = bucketForActionType(*type);
  if (!bucket) return {};
  auto kept = applyWhitelist(std::move(rule), whitelist);
  if (!kept) return {};
  return buckets.add(*bucket, *kept);
}

/// Bytes reserved for the rule file per byte of list files. Rules that gain the whitelist in
/// "unless-domain" make the file larger than its lists; a long whitelist can more than double
/// them. The reserve costs address space only (see RuleBuckets), so it errs on the large side.
constexpr std::size_t kReservedBytesPerListByte = 3;

std::size_t listBytes(const std::vector<foundation::URL>& listFiles) {
  std::size_t total = 0;
  for (const auto& file : listFiles) {
    auto attributes = foundation::FileManager::defaultManager().attributesOfItem(file.path());
    if (attributes) total += attributes->size;
  }
  return total;
}

}  // namespace

foundation::Result<RuleBuckets> bucketRules(const std::vector<foundation::URL>& listFiles,
                                            const RuleWhitelist& whitelist) {
  RuleBuckets buckets(listBytes(listFiles) * kReservedBytesPerListByte);
  for (const auto& file : listFiles) {
    RuleList list = readRuleList(file);
    for (auto& rule : list.rules) {
      if (auto added = bucketRule(std::move(rule), whitelist, buckets); !added) return added.error();
    }
  }
  return buckets;
}

foundation::Result<void> compileRuleFile(const RuleCompilerInputs& inputs) {
  auto buckets = bucketRules(inputs.listFiles, inputs.whitelist);
  if (!buckets) return buckets.error();
  return writeRuleFile(std::move(*buckets), inputs.output, inputs.builtInRuleFile);
}

}  // namespace fendrel
