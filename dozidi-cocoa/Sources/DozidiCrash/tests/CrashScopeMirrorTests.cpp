#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "dozidi-cocoa/Sources/DozidiCrash/Recording/DozidiCrashScopeMirror.h"

namespace {

std::vector<std::string> breadcrumbs() {
  const char* texts[16];
  const int count = crashscopemirror_getBreadcrumbs(texts, 16);
  return std::vector<std::string>(texts, texts + count);
}

class CrashScopeMirrorTests : public ::testing::Test {
 protected:
  void TearDown() override {
    crashscopemirror_clear();
    crashscopemirror_configureBreadcrumbs(0);
  }
};

TEST_F(CrashScopeMirrorTests, RingKeepsTheNewestBreadcrumbsOldestFirst) {
  crashscopemirror_addBreadcrumb("{\"early\":1}");  // before the ring exists: dropped
  EXPECT_TRUE(breadcrumbs().empty());

  crashscopemirror_configureBreadcrumbs(3);
  crashscopemirror_addBreadcrumb("A");
  crashscopemirror_addBreadcrumb("B");
  EXPECT_EQ(breadcrumbs(), (std::vector<std::string>{"A", "B"}));
  crashscopemirror_addBreadcrumb("C");
  crashscopemirror_addBreadcrumb("D");
  EXPECT_EQ(crashscopemirror_get()->currentCrumb.load(), 1);
  EXPECT_EQ(breadcrumbs(), (std::vector<std::string>{"B", "C", "D"}));

  crashscopemirror_clearBreadcrumbs();
  EXPECT_TRUE(breadcrumbs().empty());
  crashscopemirror_addBreadcrumb("E");
  EXPECT_EQ(breadcrumbs(), (std::vector<std::string>{"E"}));

  crashscopemirror_configureBreadcrumbs(2);  // a new ring starts empty
  EXPECT_TRUE(breadcrumbs().empty());
  EXPECT_EQ(crashscopemirror_get()->maxCrumbs.load(), 2);
}

TEST_F(CrashScopeMirrorTests, FieldsAreCopiedAndClearedByNone) {
  std::string user = R"({"id":"1"})";
  crashscopemirror_setUser(user.c_str());
  user[2] = 'X';  // the mirror keeps its own copy
  crashscopemirror_setLevel("\"fatal\"");
  EXPECT_STREQ(crashscopemirror_get()->user.load(), R"({"id":"1"})");
  EXPECT_STREQ(crashscopemirror_get()->level.load(), "\"fatal\"");
  crashscopemirror_setUser(nullptr);
  EXPECT_EQ(crashscopemirror_get()->user.load(), nullptr);
  crashscopemirror_clear();
  EXPECT_EQ(crashscopemirror_get()->level.load(), nullptr);
}

TEST_F(CrashScopeMirrorTests, SettersOnTwoThreadsNeverFreeATextTwice) {
  crashscopemirror_configureBreadcrumbs(5);
  auto writer = [](const char* tag) {
    for (int i = 0; i < 2000; ++i) {
      const std::string text = std::string("\"") + tag + std::to_string(i) + "\"";
      crashscopemirror_setTags(text.c_str());
      crashscopemirror_setExtras(i % 7 == 0 ? nullptr : text.c_str());
      crashscopemirror_addBreadcrumb(text.c_str());
    }
  };
  std::thread first(writer, "a");
  std::thread second(writer, "b");
  first.join();
  second.join();
  const std::string tags = crashscopemirror_get()->tags.load();
  EXPECT_TRUE(tags == "\"a1999\"" || tags == "\"b1999\"") << tags;
  EXPECT_EQ(breadcrumbs().size(), 5u);
}

}  // namespace
