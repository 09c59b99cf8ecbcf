#include "platform/foundation/UUID.h"

#include <gtest/gtest.h>

namespace foundation {
namespace {

TEST(UUIDTests, RandomVersion4InUpperCaseTextThatParsesBack) {
  const UUID a;
  const UUID b;
  EXPECT_NE(a, b);
  const std::string text = a.uuidString();
  ASSERT_EQ(text.size(), 36u);
  EXPECT_EQ(text[14], '4');
  EXPECT_NE(std::string("89AB").find(text[19]), std::string::npos);
  for (char c : text) EXPECT_TRUE(c == '-' || (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')) << text;
  EXPECT_EQ(UUID::fromString(text), a);

  auto parsed = UUID::fromString("e621e1f8-c36c-495a-93fc-0c247a3e6e5f");
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->uuidString(), "E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
  for (const char* bad : {"", "E621E1F8C36C495A93FC0C247A3E6E5F", "E621E1F8-C36C-495A-93FC-0C247A3E6E5",
                          "E621E1F8-C36C-495A-93FC-0C247A3E6E5G", "E621E1F8-C36C-495A93FC-0C247A3E6E5F-",
                          "{E621E1F8-C36C-495A-93FC-0C247A3E6E5F}"}) {
    EXPECT_EQ(UUID::fromString(bad), std::nullopt) << bad;
  }
}

}  // namespace
}  // namespace foundation
