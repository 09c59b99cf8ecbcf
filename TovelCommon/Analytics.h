#pragma once
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Date.h"
#include "platform/foundation/Number.h"
#include "platform/foundation/Value.h"

namespace tovel {

/// Event parameters and dimensions: text keys to any value. An absent value is kept as an entry
/// so that it can remove a dimension of the same key from an event.
using AnalyticsParameters = std::map<std::string, foundation::Value, std::less<>>;
/// Event parameters after conversion: every value is text.
using AnalyticsTexts = std::map<std::string, std::string, std::less<>>;

/// Whether an event is sent at most once per process.
enum class Once : bool { No, Yes };

/// The door through which the app reports usage and failure events. Held by reference.
/// Every operation may be called from any thread.
class AnalyticsTracker {
 public:
  virtual ~AnalyticsTracker() = default;

  /// The device identifier used as the sink's distinct id; the same for the life of the tracker.
  virtual std::string identifier() = 0;
  virtual bool enabled() const = 0;
  virtual void setEnabled(bool enabled) = 0;
  /// Reports `event` with `params` merged over the standing dimensions; see Analytics::log.
  virtual void log(std::string_view event, const AnalyticsParameters& params = {}, Once once = Once::No) = 0;
  /// Logs `event` with "failReason", "file" and "line" set over `params`.
  virtual void logError(std::string_view event, std::string_view failReason, const AnalyticsParameters& params,
                        std::string_view file, std::uint64_t line) = 0;
  /// Logs "InAppPurchasePurchased" or "InAppPurchaseFailed" with the item's name, id and price; sets
  /// "currency" when given and removes it from `params` otherwise.
  virtual void logPurchase(bool success, std::string_view itemName, std::string_view itemId,
                           foundation::Number itemPrice, const AnalyticsParameters& params,
                           std::optional<std::string> currency) = 0;
  /// Logs "invite" followed by the capitalised channel name ("mail" gives "inviteMail").
  virtual void logInvite(std::string_view channel, const AnalyticsParameters& params) = 0;
};

/// The event sink behind the front end (the Pinvale client). Held by value: the front end keeps its
/// own copy, made with clone().
class InternalAnalyticsHandler {
 public:
  using Completion = std::function<void(bool sent)>;

  virtual ~InternalAnalyticsHandler() = default;
  virtual std::unique_ptr<InternalAnalyticsHandler> clone() const = 0;
  virtual void setDistinctId(std::string distinctId) = 0;
  /// Sends one event. Returns at once; `completion`, when given, is called exactly once.
  virtual void track(std::string_view event, const std::optional<foundation::Dictionary>& properties,
                     foundation::Date date, Completion completion = {}) const = 0;
};

/// Supplies the standing dimensions of every event and observes the events that are sent.
/// Held weakly. Neither call may log through the same front end.
class ExternalAnalyticsHandler {
 public:
  virtual ~ExternalAnalyticsHandler() = default;
  virtual std::optional<AnalyticsParameters> commonAnalyticsDimensions() = 0;
  virtual void log(std::string_view event, const AnalyticsTexts& params) = 0;
};

/// The analytics front end: merges dimensions and parameters, turns every value into text, drops
/// an event that repeats the previous one or a once-only event already sent, tells the external
/// handler, writes a "TRACK ..." console line and hands the event to the sink.
///
/// The front end may be called from any thread. Each event is decided (skipped, sent or disabled)
/// under one mutex, in the order of the calls; the external handler, the sink and the console are
/// called without that mutex, one event at a time and in that same order, so any of them may log,
/// or wait for a thread that logs, without deadlocking. A call made from inside the external
/// handler or sink during a log (on the same thread) is run once the events already decided have
/// been delivered, so it never interleaves with the state changes of another. While another
/// thread is delivering events, log() queues its event for that thread and returns.
class Analytics final : public AnalyticsTracker {
 public:
  /// Copies `sink`, sets its distinct id to `identifier()`, then keeps `externalHandler` weakly.
  static std::shared_ptr<Analytics> create(const InternalAnalyticsHandler& sink,
                                           std::weak_ptr<ExternalAnalyticsHandler> externalHandler = {});

  std::string identifier() override;
  bool enabled() const override;
  void setEnabled(bool enabled) override;
  void log(std::string_view event, const AnalyticsParameters& params = {}, Once once = Once::No) override;
  void logError(std::string_view event, std::string_view failReason, const AnalyticsParameters& params,
                std::string_view file, std::uint64_t line) override;
  void logPurchase(bool success, std::string_view itemName, std::string_view itemId,
                   foundation::Number itemPrice, const AnalyticsParameters& params,
                   std::optional<std::string> currency) override;
  void logInvite(std::string_view channel, const AnalyticsParameters& params) override;

  /// The text an event parameter reaches the sink as: an error as "domain code description", a
  /// bool as "true"/"false", a URL as its text, a list as ["a", "b"]; absent gives none.
  static std::optional<std::string> textForm(const foundation::Value& value);

 private:
  /// A decided event on its way to the external handler, the sink and the console.
  struct Delivery {
    std::string event;
    AnalyticsTexts texts;
    std::shared_ptr<ExternalAnalyticsHandler> handler;  ///< told when the event is not skipped
    bool send = false;                                   ///< hand the event to the sink
    foundation::Date date;                               ///< when the event was logged
    std::string consolePrefix;
  };
  explicit Analytics(std::unique_ptr<InternalAnalyticsHandler> sink);
  void decide(const std::string& event, const AnalyticsParameters& params, Once once);
  void deliverQueued();
  std::string identifierLocked();

  mutable std::mutex mutex_;
  std::unique_ptr<InternalAnalyticsHandler> analytics_;
  std::weak_ptr<ExternalAnalyticsHandler> externalAnalyticsHandler_;
  bool enabled_ = true;
  std::optional<std::string> identifier_;
  std::optional<std::string> lastEvent_;
  std::optional<std::string> lastDimsHash_;
  std::set<std::string, std::less<>> eventsToSkip_;
  std::deque<Delivery> outbox_;
  bool delivering_ = false;  ///< a thread is emptying outbox_
};

}  // namespace tovel
