#pragma once
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/DeviceRoot.h"
#include "platform/foundation/FileManager.h"
#include "testing/TemporaryFolder.h"

namespace foundation::test_support {

/// A fresh device root for each test, removed afterwards; the main bundle is reset to none.
class TemporaryDeviceRoot : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_.emplace("fendrel-root");
    root_ = folder_->path();
    DeviceRoot::setPath(root_);
    Bundle::setMainBundleName("");
  }
  void TearDown() override {
    Bundle::setMainBundleName("");
    DeviceRoot::setPath("");
    folder_.reset();
  }

  /// Installs "Fendrel.app" entitled to `groups` and makes it the main bundle.
  void installApp(Array groups) {
    Dictionary info{{"CFBundleIdentifier", "com.morvit.Fendrel"}, {kApplicationGroupsKey, std::move(groups)}};
    ASSERT_TRUE(DeviceRoot::installBundle("Fendrel.app", info, {}).ok());
    Bundle::setMainBundleName("Fendrel.app");
  }

  std::optional<testing_support::TemporaryFolder> folder_;
  std::string root_;
};

}  // namespace foundation::test_support
