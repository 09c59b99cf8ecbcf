#include "app/core/RuleCompiler/RuleBuckets.h"

#include "json/JSON.h"
#include "platform/foundation/JSONSerialization.h"

namespace fendrel {
namespace {

constexpr const char* kBucketNames[kRuleBucketCount] = {"block", "css-display-none", "ignore-previous-rules"};

}  // namespace

std::optional<RuleBucket> bucketForActionType(std::string_view type) {
  for (std::size_t i = 0; i < kRuleBucketCount; ++i) {
    if (type == kBucketNames[i]) return static_cast<RuleBucket>(i);
  }
  return std::nullopt;
}

RuleBuckets::RuleBuckets(std::size_t expectedBytes) {
  file_.reserve(expectedBytes + 2);
  file_.push_back('[');
}

foundation::Result<void> RuleBuckets::add(RuleBucket bucket, const json::JSON& rule) {
  auto text = foundation::JSONSerialization::dataWithJSONObject(rule.object());
  if (!text) return text.error();
  addText(bucket, *text);
  return {};
}

void RuleBuckets::addText(RuleBucket bucket, std::string_view rule) {
  const auto index = static_cast<std::size_t>(bucket);
  std::string& target = bucket == RuleBucket::Block ? file_ : others_[index - 1];
  if (counts_[index] > 0) target.push_back(',');
  target.append(rule);
  ++counts_[index];
}

std::size_t RuleBuckets::totalCount() const {
  std::size_t total = 0;
  for (auto count : counts_) total += count;
  return total;
}

std::string_view RuleBuckets::text(RuleBucket bucket) const {
  if (bucket == RuleBucket::Block) return std::string_view(file_).substr(1);
  return others_[static_cast<std::size_t>(bucket) - 1];
}

std::string RuleBuckets::takeJoined() {
  bool any = counts_[0] > 0;
  for (std::size_t i = 1; i < kRuleBucketCount; ++i) {
    if (counts_[i] == 0) continue;
    if (any) file_.push_back(',');
    file_.append(others_[i - 1]);
    // Each bucket goes as soon as it is in the file, so that at most one is held twice.
    std::string().swap(others_[i - 1]);
    any = true;
  }
  file_.push_back(']');
  counts_ = {};
  std::string file = std::move(file_);
  file_.clear();
  file_.push_back('[');
  return file;
}

std::string RuleBuckets::dump() const {
  std::string text;
  for (std::size_t i = 0; i < kRuleBucketCount; ++i) {
    text.append(kBucketNames[i]).append(": ").append(std::to_string(counts_[i])).append(" rules\n");
    text.append(this->text(static_cast<RuleBucket>(i))).append("\n");
  }
  return text;
}

}  // namespace fendrel
