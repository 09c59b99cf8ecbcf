#include "platform/browser/ContentRuleListStore.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "testing/TemporaryFolder.h"

namespace {

class ContentRuleListStoreTests : public ::testing::Test {
 protected:
  std::string filters() const { return folder_ + "/filters"; }

  testing_support::TemporaryFolder temporary_{"fendrel-rulelist"};
  std::string folder_ = temporary_.path();
};

constexpr const char* kBlockRule = R"([{"trigger":{"url-filter":"ads"},"action":{"type":"block"}}])";

TEST_F(ContentRuleListStoreTests, AcceptsAValidRuleFileAndStoresItsCompiledForm) {
  auto compiled = browser::ContentRuleListStore::compile(filters(), "com.morvit.Fendrel.Quellbox", kBlockRule);
  ASSERT_TRUE(compiled) << compiled.error().localizedDescription();
  EXPECT_FALSE(std::filesystem::is_empty(filters()));
}

TEST_F(ContentRuleListStoreTests, RefusesWhatTheBrowserEngineRefusesWithItsOwnError) {
  struct Case {
    const char* name;
    const char* source;
    const char* message;
  };
  const Case cases[] = {
      {"upper-case if-domain", R"([{"trigger":{"url-filter":"ads","if-domain":["Example.com"]},"action":{"type":"block"}}])",
       "Domains must be lower case ASCII"},
      {"if-domain with unless-domain",
       R"([{"trigger":{"url-filter":"ads","if-domain":["a.com"],"unless-domain":["b.com"]},"action":{"type":"block"}}])",
       "cannot have more than one condition"},
      {"not JSON", "[{\"trigger\":", "Failed to parse the JSON String"},
      {"css-display-none without selector", R"([{"trigger":{"url-filter":"x"},"action":{"type":"css-display-none"}}])",
       "Requires a selector"},
      {"empty file", "", "cannot be empty"},
      {"empty list", "[]", "Empty extension"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto compiled = browser::ContentRuleListStore::compile(filters(), "list", c.source);
    ASSERT_FALSE(compiled);
    EXPECT_EQ(compiled.error().domain(), "WebKitUserContentFilterError");
    EXPECT_EQ(compiled.error().code(), 0);
    EXPECT_NE(compiled.error().localizedDescription().find(c.message), std::string::npos)
        << compiled.error().localizedDescription();
  }
}

TEST_F(ContentRuleListStoreTests, ServesCallersOnManyThreads) {
  std::vector<std::thread> callers;
  std::atomic<int> accepted{0}, refused{0};
  for (int i = 0; i < 6; ++i) {
    callers.emplace_back([&, i] {
      auto r = browser::ContentRuleListStore::compile(filters(), "list" + std::to_string(i), i % 2 ? kBlockRule : "x");
      (r ? accepted : refused)++;
    });
  }
  for (auto& t : callers) t.join();
  EXPECT_EQ(accepted, 3);
  EXPECT_EQ(refused, 3);
}

TEST_F(ContentRuleListStoreTests, BuiltInRuleFilesAreAccepted) {
  for (const char* file : {"Quellbox.appex/fallback.json", "Fendrel.app/blockerList.json"}) {
    SCOPED_TRACE(file);
    std::ifstream in(std::string(FENDREL_TEST_RESOURCES) + "/" + file);
    ASSERT_TRUE(in);
    std::stringstream text;
    text << in.rdbuf();
    auto compiled = browser::ContentRuleListStore::compile(filters(), "builtin", text.str());
    EXPECT_TRUE(compiled) << compiled.error().localizedDescription();
  }
}

}  // namespace
