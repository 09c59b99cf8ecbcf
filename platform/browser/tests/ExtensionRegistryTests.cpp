#include "platform/browser/ExtensionRegistry.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "platform/browser/BrowserError.h"
#include "testing/TemporaryFolder.h"

namespace {

class ExtensionRegistryTests : public ::testing::Test {
 protected:
  std::string read(const std::string& name) const {
    std::ifstream in(folder_ + "/" + name);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  void write(const std::string& name, const std::string& text) const { std::ofstream(folder_ + "/" + name) << text; }

  testing_support::TemporaryFolder temporary_{"fendrel-registry"};
  std::string folder_ = temporary_.path();
};

bool isNoExtensionFound(const foundation::Error& error) {
  return error.is(browser::kSFErrorDomain, static_cast<std::int64_t>(browser::SFErrorCode::NoExtensionFound));
}

TEST_F(ExtensionRegistryTests, InstalledExtensionIsFoundAndDisabledUntilSwitchedOn) {
  browser::ExtensionRegistry registry(folder_);
  ASSERT_TRUE(registry.install("com.morvit.Fendrel.Quellbox", "/opt/q/libQuellbox.so", "/opt/q/Quellbox.appex"));

  auto found = registry.lookup("com.morvit.Fendrel.Quellbox");
  ASSERT_TRUE(found);
  EXPECT_EQ(found->pluginPath, "/opt/q/libQuellbox.so");
  EXPECT_EQ(found->bundlePath, "/opt/q/Quellbox.appex");
  EXPECT_EQ(registry.isEnabled("com.morvit.Fendrel.Quellbox").valueOr(true), false);

  ASSERT_TRUE(registry.setEnabled("com.morvit.Fendrel.Quellbox", true));
  EXPECT_EQ(browser::ExtensionRegistry(folder_).isEnabled("com.morvit.Fendrel.Quellbox").valueOr(false), true);
  ASSERT_TRUE(registry.setEnabled("com.morvit.Fendrel.Quellbox", false));
  EXPECT_EQ(registry.isEnabled("com.morvit.Fendrel.Quellbox").valueOr(true), false);
}

TEST_F(ExtensionRegistryTests, UnknownExtensionIsNoExtensionFound) {
  browser::ExtensionRegistry registry(folder_);
  ASSERT_TRUE(registry.install("a.b", "/p.so", "/b"));
  auto lookup = registry.lookup("a.c");
  ASSERT_FALSE(lookup);
  EXPECT_TRUE(isNoExtensionFound(lookup.error()));
  auto state = registry.isEnabled("a.c");
  ASSERT_FALSE(state);
  EXPECT_TRUE(isNoExtensionFound(state.error()));
  auto set = registry.setEnabled("a.c", true);
  ASSERT_FALSE(set);
  EXPECT_TRUE(isNoExtensionFound(set.error()));
  EXPECT_FALSE(std::filesystem::exists(folder_ + "/enabled.json"));
}

TEST_F(ExtensionRegistryTests, RefusesIdentifiersAndPathsThatCannotBeUsedSafely) {
  browser::ExtensionRegistry registry(folder_);
  struct Case {
    const char* name;
    std::string identifier, plugin, bundle;
  };
  const Case cases[] = {
      {"empty identifier", "", "/p.so", "/b"},       {"dot-dot", "..", "/p.so", "/b"},
      {"slash", "../../etc/x", "/p.so", "/b"},       {"control character", "a\nb", "/p.so", "/b"},
      {"relative plug-in", "a.b", "p.so", "/b"},     {"relative bundle", "a.b", "/p.so", "b"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto installed = registry.install(c.identifier, c.plugin, c.bundle);
    ASSERT_FALSE(installed);
    EXPECT_EQ(installed.error().domain(), browser::kBrowserErrorDomain);
  }
  EXPECT_FALSE(std::filesystem::exists(folder_ + "/extensions.json"));
}

TEST_F(ExtensionRegistryTests, DamagedRegistryIsReportedAndNeverOverwritten) {
  write("extensions.json", "{\"a.b\": {\"plugin\": ");
  browser::ExtensionRegistry registry(folder_);
  auto installed = registry.install("c.d", "/p.so", "/b");
  ASSERT_FALSE(installed);
  EXPECT_TRUE(installed.error().is(browser::kBrowserErrorDomain,
                                   static_cast<std::int64_t>(browser::BrowserErrorCode::DamagedStateFile)));
  EXPECT_EQ(read("extensions.json"), "{\"a.b\": {\"plugin\": ");
  EXPECT_FALSE(registry.lookup("a.b"));
}

TEST_F(ExtensionRegistryTests, ConcurrentChangesLoseNoEntry) {
  std::vector<std::thread> writers;
  for (int i = 0; i < 8; ++i) {
    writers.emplace_back([this, i] {
      browser::ExtensionRegistry registry(folder_);
      std::string id = "ext" + std::to_string(i);
      EXPECT_TRUE(registry.install(id, "/p" + std::to_string(i) + ".so", "/b"));
      EXPECT_TRUE(registry.setEnabled(id, true));
    });
  }
  for (auto& t : writers) t.join();
  browser::ExtensionRegistry registry(folder_);
  for (int i = 0; i < 8; ++i) {
    SCOPED_TRACE(i);
    auto found = registry.lookup("ext" + std::to_string(i));
    ASSERT_TRUE(found);
    EXPECT_EQ(found->pluginPath, "/p" + std::to_string(i) + ".so");
    EXPECT_EQ(registry.isEnabled("ext" + std::to_string(i)).valueOr(false), true);
  }
}

}  // namespace
