#include "app/cli/ObservedAnalytics.h"

#include "app/cli/EventLog.h"

namespace fendrel::cli {
namespace {

foundation::Value parameter(const tovel::AnalyticsParameters& params, std::string_view key) {
  auto found = params.find(key);
  return found == params.end() ? foundation::Value(nullptr) : found->second;
}

}  // namespace

std::size_t ObservedAnalytics::count(std::string_view event) const {
  std::lock_guard lock(mutex_);
  auto found = counts_.find(event);
  return found == counts_.end() ? 0 : found->second;
}

std::size_t ObservedAnalytics::loggedWhileEnabled() const {
  std::lock_guard lock(mutex_);
  return loggedWhileEnabled_;
}

void ObservedAnalytics::observe(std::string_view event, const tovel::AnalyticsParameters& params) {
  // The event line is written before the count moves: a command that ends as soon as it sees the
  // count (a configuration attempt that failed, say) has then printed the line already.
  emitEventLine(event, params);
  std::lock_guard lock(mutex_);
  ++counts_[std::string(event)];
  if (inner_->enabled()) ++loggedWhileEnabled_;
}

void ObservedAnalytics::emitEventLine(std::string_view event, const tovel::AnalyticsParameters& params) {
  auto& out = EventLog::shared();
  if (event == "errJoinJsons") {
    out.event("compileFailed", {{"error", parameter(params, "error")}, {"config", parameter(params, "config")}});
  } else if (event == "errRecompileSafari") {
    out.event("reloadFailed", {{"error", parameter(params, "error")}, {"config", parameter(params, "config")}});
  } else if (event.starts_with("errCloudConfig")) {
    out.event("configurationAttemptFailed", {{"reason", event},
                                             {"url", parameter(params, "url")},
                                             {"error", parameter(params, "error")}});
  }
}

void ObservedAnalytics::log(std::string_view event, const tovel::AnalyticsParameters& params, tovel::Once once) {
  observe(event, params);
  inner_->log(event, params, once);
}

void ObservedAnalytics::logError(std::string_view event, std::string_view failReason,
                                 const tovel::AnalyticsParameters& params, std::string_view file, std::uint64_t line) {
  observe(event, params);
  inner_->logError(event, failReason, params, file, line);
}

void ObservedAnalytics::logPurchase(bool success, std::string_view itemName, std::string_view itemId,
                                    foundation::Number itemPrice, const tovel::AnalyticsParameters& params,
                                    std::optional<std::string> currency) {
  observe(success ? "InAppPurchasePurchased" : "InAppPurchaseFailed", params);
  inner_->logPurchase(success, itemName, itemId, itemPrice, params, std::move(currency));
}

void ObservedAnalytics::logInvite(std::string_view channel, const tovel::AnalyticsParameters& params) {
  observe("invite", params);
  inner_->logInvite(channel, params);
}

}  // namespace fendrel::cli
