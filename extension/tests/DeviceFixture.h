#pragma once
// A fresh temporary device root holding the extension's bundle, for the extension's tests.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "platform/foundation/Bundle.h"
#include "platform/foundation/DeviceRoot.h"
#include "testing/TemporaryFolder.h"

namespace quellbox::test_support {

inline constexpr const char* kGroup = "group.com.morvit.Fendrel";
inline constexpr const char* kExtensionId = "com.morvit.Fendrel.Quellbox";

enum class Entitled : bool { No, Yes };
enum class WithFallback : bool { No, Yes };

inline std::string readText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void writeText(const std::string& path, const std::string& text) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

/// Every regular file under `folder` with its contents, to show that a run wrote nothing.
inline std::map<std::string, std::string> snapshot(const std::string& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
    if (entry.is_regular_file()) files[entry.path().string()] = readText(entry.path().string());
  }
  return files;
}

class DeviceFixture : public ::testing::Test {
 protected:
  void SetUp() override { foundation::DeviceRoot::setPath(root_); }
  void TearDown() override {
    foundation::Bundle::setMainBundleName("");
    foundation::DeviceRoot::setPath("");
  }

  /// Lays out apps/Quellbox.appex from the shipped resources, with or without the app-group
  /// entitlement and the fallback file; returns the bundle's path.
  std::string installExtensionBundle(Entitled entitled, WithFallback fallback) {
    const std::string resources = std::string(FENDREL_TEST_RESOURCES) + "/Quellbox.appex";
    std::string info = readText(resources + "/Info.json");
    if (entitled == Entitled::No) {
      auto at = info.find("\"com.apple.security.application-groups\"");
      EXPECT_NE(at, std::string::npos);
      info.replace(at, std::string("\"com.apple.security.application-groups\"").size(), "\"unrelated-key\"");
    }
    bundle_ = root_ + "/apps/Quellbox.appex";
    std::filesystem::remove_all(bundle_);
    writeText(bundle_ + "/Info.json", info);
    if (fallback == WithFallback::Yes) writeText(bundle_ + "/fallback.json", readText(resources + "/fallback.json"));
    return bundle_;
  }

  std::string containerFile(const std::string& name) const { return root_ + "/containers/" + kGroup + "/" + name; }
  std::string fallbackText() const {
    return readText(std::string(FENDREL_TEST_RESOURCES) + "/Quellbox.appex/fallback.json");
  }

  testing_support::TemporaryFolder rootFolder_{"fendrel-device"};
  std::string root_ = rootFolder_.path();
  std::string bundle_;
};

}  // namespace quellbox::test_support
