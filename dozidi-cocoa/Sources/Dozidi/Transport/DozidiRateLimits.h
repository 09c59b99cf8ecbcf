#pragma once
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>

#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiDataCategory.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiEnvelope.h"
#include "platform/foundation/Date.h"

namespace foundation {
class HTTPURLResponse;
}

/// Date comparisons on the reporter's clock.
class DozidiDateUtil {
 public:
  /// True when the reporter's clock is strictly earlier than `date`; false for none.
  static bool isInFuture(const std::optional<foundation::Date>& date);
  /// The later of the two (the second on a tie); the one present when only one is.
  static std::optional<foundation::Date> getMaximumDate(const std::optional<foundation::Date>& first,
                                                        const std::optional<foundation::Date>& second);
};

/// Reads HTTP dates ("Wed, 21 Oct 2015 07:28:00 GMT"), always with English names.
class DozidiHttpDateParser {
 public:
  std::optional<foundation::Date> dateFromString(std::string_view text) const;
};

/// Reads the "X-Dozidi-Rate-Limits" header: entries "<seconds>:<categories>[:...]" separated by
/// ",", categories separated by ";" (none means all). Whitespace anywhere is ignored.
class DozidiRateLimitParser {
 public:
  /// The date until which each category is limited (the longest entry wins). Entries whose
  /// seconds are not a number of at least 1 are skipped; "user_report" and unknown names never
  /// create a limit; an entry without a categories field limits all categories.
  std::map<DozidiDataCategory, foundation::Date> parse(std::string_view header) const;
};

/// Reads "Retry-After": a number of seconds from now, or an HTTP date.
class DozidiRetryAfterHeaderParser {
 public:
  explicit DozidiRetryAfterHeaderParser(DozidiHttpDateParser httpDateParser) : httpDateParser_(httpDateParser) {}
  /// None for none, empty text, "0" and text that is neither a number nor an HTTP date.
  std::optional<foundation::Date> parse(const std::optional<std::string>& header) const;

 private:
  DozidiHttpDateParser httpDateParser_;
};

/// The date until which each category is limited. Any thread may use it.
class DozidiConcurrentRateLimitsDictionary {
 public:
  void addRateLimit(DozidiDataCategory category, foundation::Date validUntil);
  std::optional<foundation::Date> getRateLimitForCategory(DozidiDataCategory category) const;
  /// Keeps the later of the stored limit and `validUntil`, in one step, so that two concurrent
  /// updates can never shorten a limit.
  void extendRateLimit(DozidiDataCategory category, foundation::Date validUntil);

 private:
  mutable std::mutex lock_;
  std::map<DozidiDataCategory, foundation::Date> rateLimits_;
};

/// Decides whether a category may be sent.
class DozidiRateLimits {
 public:
  virtual ~DozidiRateLimits() = default;
  virtual bool isRateLimitActive(DozidiDataCategory category) = 0;
  virtual void update(const foundation::HTTPURLResponse& response) = 0;
};

/// The limits the service announced in its answers. Any thread may use it.
class DozidiDefaultRateLimits final : public DozidiRateLimits {
 public:
  DozidiDefaultRateLimits(DozidiRetryAfterHeaderParser retryAfterHeaderParser, DozidiRateLimitParser rateLimitParser)
      : retryAfterHeaderParser_(retryAfterHeaderParser), rateLimitParser_(rateLimitParser) {}

  /// True while the category's own limit or the limit on all categories lies in the future.
  bool isRateLimitActive(DozidiDataCategory category) override;
  /// "X-Dozidi-Rate-Limits" when present, whatever the status; else, for a 429, "Retry-After"
  /// for all categories (60 seconds when it gives no date); any other answer changes nothing.
  void update(const foundation::HTTPURLResponse& response) override;
  /// Limits are only ever extended.
  void updateRateLimit(DozidiDataCategory category, foundation::Date date);

 private:
  DozidiConcurrentRateLimitsDictionary rateLimits_;
  DozidiRetryAfterHeaderParser retryAfterHeaderParser_;
  DozidiRateLimitParser rateLimitParser_;
};

/// Told of each item a rate limit removed from an envelope.
class DozidiEnvelopeRateLimitDelegate {
 public:
  virtual ~DozidiEnvelopeRateLimitDelegate() = default;
  virtual void envelopeItemDropped(DozidiDataCategory category) = 0;
};

/// Removes the items of limited categories from envelopes before they are stored.
class DozidiEnvelopeRateLimit {
 public:
  explicit DozidiEnvelopeRateLimit(std::shared_ptr<DozidiRateLimits> rateLimits)
      : rateLimits_(std::move(rateLimits)) {}
  /// Held weakly.
  void setDelegate(std::weak_ptr<DozidiEnvelopeRateLimitDelegate> delegate) { delegate_ = std::move(delegate); }

  /// The same envelope when nothing is limited; else a new one with the same header and the
  /// remaining items in order (possibly none). The delegate hears of each removed item.
  std::shared_ptr<const DozidiEnvelope> removeRateLimitedItems(const std::shared_ptr<const DozidiEnvelope>& envelope);

 private:
  std::shared_ptr<DozidiRateLimits> rateLimits_;
  std::weak_ptr<DozidiEnvelopeRateLimitDelegate> delegate_;
};
