#pragma once
// Doubles of the collaborators the app state and the list elements talk to.

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "TovelCommon/Analytics.h"
#include "TovelCommon/CloudConfig.h"
#include "app/core/ListElement.h"
#include "app/core/Singleton.h"
#include "platform/foundation/UserDefaults.h"

namespace fendrel::test_support {

/// A configuration that is whatever the test sets.
class FakeCloudConfig final : public tovel::CloudConfigProvider {
 public:
  void set(foundation::Dictionary raw, std::optional<foundation::URL> baseUrl) {
    std::lock_guard lock(mutex_);
    raw_ = std::move(raw);
    baseUrl_ = std::move(baseUrl);
  }
  std::optional<foundation::Dictionary> rawConfig() const override {
    std::lock_guard lock(mutex_);
    return raw_;
  }
  std::optional<foundation::URL> baseUrl() const override {
    std::lock_guard lock(mutex_);
    return baseUrl_;
  }
  void addRefreshCallback(tovel::RefreshCallback) override {}
  std::optional<tovel::CloudConfigValue> value(std::string_view key) const override {
    return value(key, std::string_view("cloudConfig"));
  }
  std::optional<tovel::CloudConfigValue> value(std::string_view key,
                                               std::optional<std::string_view> section) const override {
    std::lock_guard lock(mutex_);
    if (!raw_ || !baseUrl_) return std::nullopt;
    const foundation::Dictionary* map = &*raw_;
    if (section) map = (*raw_)[*section].dictionary();
    if (!map || !map->contains(key)) return std::nullopt;
    return tovel::CloudConfigValue{(*map)[key], *baseUrl_};
  }

 private:
  mutable std::mutex mutex_;
  std::optional<foundation::Dictionary> raw_;
  std::optional<foundation::URL> baseUrl_;
};

/// Records every event; asks the external handler for its dimensions as the real front end does.
class RecordingAnalytics final : public tovel::AnalyticsTracker {
 public:
  std::string identifier() override { return "test-device"; }
  bool enabled() const override { return enabled_; }
  void setEnabled(bool enabled) override { enabled_ = enabled; }
  void log(std::string_view event, const tovel::AnalyticsParameters& params = {},
           tovel::Once = tovel::Once::No) override {
    std::lock_guard lock(mutex_);
    events_.emplace_back(event);
    parameters_.push_back(params);
  }
  void logError(std::string_view event, std::string_view, const tovel::AnalyticsParameters& params,
                std::string_view, std::uint64_t) override {
    log(event, params);
  }
  void logPurchase(bool, std::string_view, std::string_view, foundation::Number,
                   const tovel::AnalyticsParameters&, std::optional<std::string>) override {}
  void logInvite(std::string_view, const tovel::AnalyticsParameters&) override {}

  std::vector<std::string> events() const {
    std::lock_guard lock(mutex_);
    return events_;
  }
  /// The parameters of each logged event, in the order of events().
  std::vector<tovel::AnalyticsParameters> parameters() const {
    std::lock_guard lock(mutex_);
    return parameters_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> events_;
  std::vector<tovel::AnalyticsParameters> parameters_;
  bool enabled_ = true;
};

/// Changes the stored enabled set as the compile service does and records compilation requests.
class RecordingCompileService final : public ListElementCompileService {
 public:
  foundation::Result<void> enableList(const CloudObject& obj) override { return change(obj.objectId(), true); }
  foundation::Result<void> disableList(const CloudObject& obj) override { return change(obj.objectId(), false); }
  void queueCompilation(Recompilation recompilation) override {
    compilations.push_back(recompilation == Recompilation::Always);
  }

  std::vector<bool> compilations;

 private:
  static foundation::Result<void> change(const std::string& id, bool enable) {
    auto ids = Singleton::shared().extConfigIDs();
    if (enable) {
      ids.insert(id);
    } else {
      ids.erase(id);
    }
    foundation::Array stored;
    for (const auto& i : ids) stored.push_back(i);
    return Singleton::shared().userDefs()->set("extConfigIDs", stored);
  }
};

/// A fresh app state with doubles in place of the configuration and the analytics front end.
struct ScopedAppState {
  ScopedAppState() {
    Singleton::resetShared();
    Singleton::shared().setCloudConfig(config);
    Singleton::shared().setAnalytics(analytics);
    ListElement::setCompileService(compileService);
  }
  ~ScopedAppState() {
    ListElement::setCompileService(nullptr);
    Singleton::resetShared();
  }
  std::shared_ptr<FakeCloudConfig> config = std::make_shared<FakeCloudConfig>();
  std::shared_ptr<RecordingAnalytics> analytics = std::make_shared<RecordingAnalytics>();
  std::shared_ptr<RecordingCompileService> compileService = std::make_shared<RecordingCompileService>();
};

}  // namespace fendrel::test_support
