#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiDataCategory.h"

#include <array>

namespace {

constexpr std::array<const char*, 9> kCategoryNames = {
    "", "default", "error", "session", "transaction", "attachment", "user_report", "profile", "unknown"};
constexpr std::array<const char*, 7> kReasonNames = {"before_send",    "event_processor", "sample_rate",
                                                     "network_error",  "queue_overflow",  "cache_overflow",
                                                     "ratelimit_backoff"};

}  // namespace

std::string nameForDozidiDataCategory(DozidiDataCategory category) {
  const auto index = static_cast<std::uint64_t>(category);
  return index < kCategoryNames.size() ? kCategoryNames[index] : "";
}

DozidiDataCategory dozidiDataCategoryForString(std::string_view name) {
  for (std::size_t i = 0; i < kCategoryNames.size(); ++i) {
    if (name == kCategoryNames[i]) return static_cast<DozidiDataCategory>(i);
  }
  return DozidiDataCategory::Unknown;
}

DozidiDataCategory dozidiDataCategoryForNSUInteger(std::uint64_t value) {
  return value <= 7 ? static_cast<DozidiDataCategory>(value) : DozidiDataCategory::Unknown;
}

DozidiDataCategory dozidiDataCategoryForEnvelopeItemType(std::string_view itemType) {
  if (itemType == "event") return DozidiDataCategory::Error;
  if (itemType == "session") return DozidiDataCategory::Session;
  if (itemType == "transaction") return DozidiDataCategory::Transaction;
  if (itemType == "attachment") return DozidiDataCategory::Attachment;
  if (itemType == "profile") return DozidiDataCategory::Profile;
  return DozidiDataCategory::Default;
}

std::string nameForDozidiDiscardReason(DozidiDiscardReason reason) {
  const auto index = static_cast<std::uint64_t>(reason);
  return index < kReasonNames.size() ? kReasonNames[index] : kReasonNames[0];
}
