#pragma once
#include <cstdint>
#include <string>
#include <string_view>

/// Kinds of data the reporting service limits and the reporter counts when lost.
enum class DozidiDataCategory : std::uint64_t {
  All = 0,
  Default = 1,
  Error = 2,
  Session = 3,
  Transaction = 4,
  Attachment = 5,
  UserFeedback = 6,
  Profile = 7,
  Unknown = 8,
};

/// Why items were lost.
enum class DozidiDiscardReason : std::uint64_t {
  BeforeSend = 0,
  EventProcessor = 1,
  SampleRate = 2,
  NetworkError = 3,
  QueueOverflow = 4,
  CacheOverflow = 5,
  RateLimitBackoff = 6,
};

/// The category's wire name: "", "default", "error", "session", "transaction", "attachment",
/// "user_report", "profile", "unknown"; "" for any value above 8.
std::string nameForDozidiDataCategory(DozidiDataCategory category);
/// The category of that exact name; "" is all, any other text unknown.
DozidiDataCategory dozidiDataCategoryForString(std::string_view name);
/// Values 0 to 7 as they are, anything larger unknown.
DozidiDataCategory dozidiDataCategoryForNSUInteger(std::uint64_t value);
/// "event" error, "session" session, "transaction" transaction, "attachment" attachment,
/// "profile" profile; every other item type (feedback and client reports too) default.
DozidiDataCategory dozidiDataCategoryForEnvelopeItemType(std::string_view itemType);
/// The reason's wire name; "before_send" for any value above 6.
std::string nameForDozidiDiscardReason(DozidiDiscardReason reason);
