#pragma once
#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "TovelCommon/Analytics.h"

namespace fendrel::cli {

/// The app's analytics front end with the command line listening in: every call is handed on
/// unchanged, and the calls that tell of a failure the user cares about (a configuration host
/// that failed, a compilation or a reload that failed) are counted and written as event lines.
/// The app reports those failures only through analytics, so this is where the command line learns
/// of them. Safe from any thread.
class ObservedAnalytics final : public tovel::AnalyticsTracker {
 public:
  explicit ObservedAnalytics(std::shared_ptr<tovel::AnalyticsTracker> inner) : inner_(std::move(inner)) {}

  /// How often `event` was logged in this process.
  std::size_t count(std::string_view event) const;
  /// How many events were logged while the front end was enabled (so that the sink was asked to
  /// send them, unless the front end dropped a repeat).
  std::size_t loggedWhileEnabled() const;

  std::string identifier() override { return inner_->identifier(); }
  bool enabled() const override { return inner_->enabled(); }
  void setEnabled(bool enabled) override { inner_->setEnabled(enabled); }
  void log(std::string_view event, const tovel::AnalyticsParameters& params, tovel::Once once) override;
  void logError(std::string_view event, std::string_view failReason, const tovel::AnalyticsParameters& params,
                std::string_view file, std::uint64_t line) override;
  void logPurchase(bool success, std::string_view itemName, std::string_view itemId, foundation::Number itemPrice,
                   const tovel::AnalyticsParameters& params, std::optional<std::string> currency) override;
  void logInvite(std::string_view channel, const tovel::AnalyticsParameters& params) override;

 private:
  void observe(std::string_view event, const tovel::AnalyticsParameters& params);
  /// Writes the command line's event line for `event`, when it has one.
  static void emitEventLine(std::string_view event, const tovel::AnalyticsParameters& params);

  const std::shared_ptr<tovel::AnalyticsTracker> inner_;
  mutable std::mutex mutex_;
  std::map<std::string, std::size_t, std::less<>> counts_;
  std::size_t loggedWhileEnabled_ = 0;
};

}  // namespace fendrel::cli
