#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiRateLimits.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <climits>
#include <string>
#include <vector>

#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiCurrentDate.h"
#include "dozidi-cocoa/Sources/Dozidi/detail/DozidiText.h"
#include "platform/foundation/DateFormatting.h"
#include "platform/foundation/URLResponse.h"

namespace {

// A limit the service names without a date still holds for this long.
constexpr double kDefaultRetryAfterSeconds = 60.0;

/// A whole decimal number (optional sign) and nothing else, clamped to 32 bits.
std::optional<std::int64_t> wholeNumber(std::string_view text) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  std::int64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (end != text.data() + text.size()) return std::nullopt;
  if (ec == std::errc::result_out_of_range) {
    value = text.front() == '-' ? INT32_MIN : INT32_MAX;
  } else if (ec != std::errc()) {
    return std::nullopt;
  }
  return std::clamp<std::int64_t>(value, INT32_MIN, INT32_MAX);
}

/// The leading integer of `text` (leading whitespace skipped, optional sign, digits up to the
/// first other character); 0 when there are no digits. Saturates at the 32-bit bounds.
std::int64_t leadingInteger(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  std::int64_t value = 0;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
    value = std::min<std::int64_t>(value * 10 + (text[i] - '0'), std::int64_t(INT32_MAX) + 1);
  }
  value = negative ? -value : value;
  return std::clamp<std::int64_t>(value, INT32_MIN, INT32_MAX);
}

}  // namespace

bool DozidiDateUtil::isInFuture(const std::optional<foundation::Date>& date) {
  return date && DozidiCurrentDate::date() < *date;
}

std::optional<foundation::Date> DozidiDateUtil::getMaximumDate(const std::optional<foundation::Date>& first,
                                                               const std::optional<foundation::Date>& second) {
  if (!first) return second;
  if (!second) return first;
  return *first > *second ? first : second;
}

std::optional<foundation::Date> DozidiHttpDateParser::dateFromString(std::string_view text) const {
  return foundation::parseHTTPDate(text);
}

std::map<DozidiDataCategory, foundation::Date> DozidiRateLimitParser::parse(std::string_view header) const {
  std::map<DozidiDataCategory, foundation::Date> limits;
  std::string compact;
  for (char c : header) {
    if (!std::isspace(static_cast<unsigned char>(c))) compact += c;
  }
  if (compact.empty()) return limits;
  const auto now = DozidiCurrentDate::date();
  for (const auto entry : detail::splitText(compact, ',')) {
    const auto fields = detail::splitText(entry, ':');
    const auto seconds = wholeNumber(fields[0]);
    if (!seconds || *seconds < 1) continue;
    const auto until = now.addingTimeInterval(static_cast<double>(*seconds));
    // An entry without a categories field is read like an empty one: it limits everything, the
    // careful reading towards a service that asks for less traffic.
    const auto names = fields.size() > 1 ? detail::splitText(fields[1], ';') : std::vector<std::string_view>{""};
    for (const auto name : names) {
      const auto category = dozidiDataCategoryForString(name);
      if (category == DozidiDataCategory::UserFeedback || category == DozidiDataCategory::Unknown) continue;
      const auto existing = limits.find(category);
      limits[category] = *DozidiDateUtil::getMaximumDate(
          existing == limits.end() ? std::nullopt : std::optional(existing->second), until);
    }
  }
  return limits;
}

std::optional<foundation::Date> DozidiRetryAfterHeaderParser::parse(const std::optional<std::string>& header) const {
  if (!header || header->empty()) return std::nullopt;
  const auto seconds = leadingInteger(*header);
  if (seconds != 0) return DozidiCurrentDate::date().addingTimeInterval(static_cast<double>(seconds));
  return httpDateParser_.dateFromString(*header);
}

void DozidiConcurrentRateLimitsDictionary::addRateLimit(DozidiDataCategory category, foundation::Date validUntil) {
  std::lock_guard lock(lock_);
  rateLimits_[category] = validUntil;
}

std::optional<foundation::Date> DozidiConcurrentRateLimitsDictionary::getRateLimitForCategory(
    DozidiDataCategory category) const {
  std::lock_guard lock(lock_);
  const auto found = rateLimits_.find(category);
  if (found == rateLimits_.end()) return std::nullopt;
  return found->second;
}

void DozidiConcurrentRateLimitsDictionary::extendRateLimit(DozidiDataCategory category, foundation::Date validUntil) {
  std::lock_guard lock(lock_);
  auto [entry, inserted] = rateLimits_.try_emplace(category, validUntil);
  if (!inserted) entry->second = *DozidiDateUtil::getMaximumDate(entry->second, validUntil);
}

bool DozidiDefaultRateLimits::isRateLimitActive(DozidiDataCategory category) {
  return DozidiDateUtil::isInFuture(rateLimits_.getRateLimitForCategory(category)) ||
         DozidiDateUtil::isInFuture(rateLimits_.getRateLimitForCategory(DozidiDataCategory::All));
}

void DozidiDefaultRateLimits::update(const foundation::HTTPURLResponse& response) {
  if (const auto header = response.valueForHTTPHeaderField("X-Dozidi-Rate-Limits")) {
    for (const auto& [category, date] : rateLimitParser_.parse(*header)) {
      updateRateLimit(dozidiDataCategoryForNSUInteger(static_cast<std::uint64_t>(category)), date);
    }
    return;
  }
  if (response.statusCode() != 429) return;
  auto until = retryAfterHeaderParser_.parse(response.valueForHTTPHeaderField("Retry-After"));
  if (!until) until = DozidiCurrentDate::date().addingTimeInterval(kDefaultRetryAfterSeconds);
  updateRateLimit(DozidiDataCategory::All, *until);
}

void DozidiDefaultRateLimits::updateRateLimit(DozidiDataCategory category, foundation::Date date) {
  rateLimits_.extendRateLimit(category, date);
}

std::shared_ptr<const DozidiEnvelope> DozidiEnvelopeRateLimit::removeRateLimitedItems(
    const std::shared_ptr<const DozidiEnvelope>& envelope) {
  if (!envelope) return nullptr;
  DozidiEnvelopeItems kept;
  bool droppedAny = false;
  for (const auto& item : envelope->items()) {
    const auto category = dozidiDataCategoryForEnvelopeItemType(item->header().type);
    if (rateLimits_ && rateLimits_->isRateLimitActive(category)) {
      droppedAny = true;
      if (auto delegate = delegate_.lock()) delegate->envelopeItemDropped(category);
      continue;
    }
    kept.push_back(item);
  }
  if (!droppedAny) return envelope;
  return std::make_shared<const DozidiEnvelope>(envelope->header(), std::move(kept));
}
