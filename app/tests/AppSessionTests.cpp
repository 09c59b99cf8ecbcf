// A session of the command line driven in the test's own process, on a fresh device root, with a
// configuration double that keeps what is registered with it.

#include "app/cli/AppSession.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <mutex>
#include <vector>

#include "TovelCommon/CloudConfig.h"
#include "app/cli/ObservedAnalytics.h"
#include "app/core/Singleton.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/DeviceRoot.h"

namespace fendrel::cli {
namespace {

/// A configuration that never has an answer and keeps every refresh callback, as the app's own
/// does until its first remote answer.
class KeepingCloudConfig final : public tovel::CloudConfigProvider {
 public:
  std::optional<foundation::Dictionary> rawConfig() const override { return std::nullopt; }
  std::optional<foundation::URL> baseUrl() const override { return std::nullopt; }
  void addRefreshCallback(tovel::RefreshCallback callback) override {
    std::lock_guard lock(mutex_);
    callbacks_.push_back(std::move(callback));
  }
  std::optional<tovel::CloudConfigValue> value(std::string_view) const override { return std::nullopt; }
  std::optional<tovel::CloudConfigValue> value(std::string_view, std::optional<std::string_view>) const override {
    return std::nullopt;
  }
  std::vector<tovel::RefreshCallback> callbacks() {
    std::lock_guard lock(mutex_);
    return callbacks_;
  }

 private:
  std::mutex mutex_;
  std::vector<tovel::RefreshCallback> callbacks_;
};

class AppSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "fendrel-session-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    foundation::DeviceRoot::setPath(root_);
    Singleton::resetShared();
    Singleton::shared().setCloudConfig(config_);
  }
  void TearDown() override {
    Singleton::resetShared();
    foundation::Bundle::setMainBundleName("");
    foundation::DeviceRoot::setPath("");
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }

  std::string root_;
  std::shared_ptr<KeepingCloudConfig> config_ = std::make_shared<KeepingCloudConfig>();
};

TEST_F(AppSessionTest, ConfigurationCallbackOutlivingTheSessionDoesNotReachIt) {
  auto session = std::make_unique<AppSession>(5.0);
  ASSERT_TRUE(session->launch().ok());
  // The app's analytics front end is the one the session listens to.
  EXPECT_EQ(Singleton::shared().analytics().get(), &session->analytics());
  session.reset();

  const auto callbacks = config_->callbacks();
  ASSERT_FALSE(callbacks.empty());
  // A remote answer arriving after the session ended must not touch it (the session would print
  // a "configuration" line, then rebuild its cells in freed memory).
  ::testing::internal::CaptureStdout();
  for (const auto& callback : callbacks) callback(tovel::CloudConfigSource::Remote);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
}

}  // namespace
}  // namespace fendrel::cli
