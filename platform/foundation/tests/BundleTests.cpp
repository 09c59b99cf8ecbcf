#include "platform/foundation/Bundle.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include "platform/foundation/tests/TemporaryDeviceRoot.h"

namespace foundation {
namespace {

class BundleTest : public test_support::TemporaryDeviceRoot {
 protected:
  std::string resource(const std::string& name, std::string_view bytes) {
    const std::string path = root_ + "/" + name;
    EXPECT_TRUE(FileManager::defaultManager().writeFileAtomically(path, bytes).ok());
    return path;
  }
};

TEST_F(BundleTest, MainBundleGivesInfoAndResources) {
  const Dictionary info{{"CFBundleIdentifier", "com.morvit.Fendrel.Quellbox"}, {"CFBundleVersion", "7"}};
  auto installed = DeviceRoot::installBundle("Quellbox.appex", info, {resource("fallback.json", "[]")});
  ASSERT_TRUE(installed.ok()) << installed.error().localizedDescription();
  Bundle::setMainBundleName("Quellbox.appex");

  auto main = Bundle::main();
  EXPECT_EQ(main->bundlePath(), root_ + "/apps/Quellbox.appex");
  EXPECT_EQ(main->bundleIdentifier(), "com.morvit.Fendrel.Quellbox");
  EXPECT_EQ(main->object("CFBundleVersion"), Value("7"));
  EXPECT_TRUE(main->object("missing").isAbsent());

  auto url = main->url("fallback", "json");
  ASSERT_TRUE(url.has_value());
  EXPECT_EQ(url->path(), root_ + "/apps/Quellbox.appex/fallback.json");
  EXPECT_EQ(main->path("fallback.json"), root_ + "/apps/Quellbox.appex/fallback.json");
  EXPECT_FALSE(main->url("blockerList", "json"));
  EXPECT_FALSE(main->url("../Quellbox.appex/fallback", "json"));
  EXPECT_FALSE(main->url("..", ""));
}

TEST_F(BundleTest, MainBundleComesFromTheEnvironmentOrIsEmpty) {
  EXPECT_TRUE(Bundle::main()->bundlePath().empty());
  EXPECT_FALSE(Bundle::main()->bundleIdentifier());
  EXPECT_FALSE(Bundle::main()->url("Info", "json"));

  ASSERT_TRUE(DeviceRoot::installBundle("Fendrel.app", {{"CFBundleIdentifier", "com.morvit.Fendrel"}}, {}).ok());
  ::setenv("FENDREL_MAIN_BUNDLE", "Fendrel.app", 1);
  Bundle::resetMain();
  EXPECT_EQ(Bundle::main()->bundleIdentifier(), "com.morvit.Fendrel");
  ::unsetenv("FENDREL_MAIN_BUNDLE");
  Bundle::resetMain();
}

TEST_F(BundleTest, DamagedOrMissingInfoGivesAnEmptyDictionary) {
  const std::string folder = root_ + "/apps/Broken.app";
  ASSERT_TRUE(FileManager::defaultManager().createDirectory(folder, Intermediates::Yes).ok());
  ASSERT_TRUE(FileManager::defaultManager().writeFileAtomically(folder + "/Info.json", "{not json").ok());
  auto broken = Bundle::atPath(folder);
  ASSERT_TRUE(broken);
  EXPECT_TRUE(broken->infoDictionary().empty());
  EXPECT_FALSE(Bundle::atPath(root_ + "/apps/Missing.app"));
}

TEST_F(BundleTest, InstallRefusesUnsafeNamesAndMissingResources) {
  for (const char* name : {"", "..", "a/b"}) {
    EXPECT_FALSE(DeviceRoot::installBundle(name, {}, {}).ok()) << name;
  }
  auto missing = DeviceRoot::installBundle("Fendrel.app", {}, {root_ + "/nothing.json"});
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.error().code(), static_cast<std::int64_t>(CocoaError::FileReadNoSuchFile));
}

}  // namespace
}  // namespace foundation
