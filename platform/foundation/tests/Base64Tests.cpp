#include "platform/foundation/Base64.h"

#include <gtest/gtest.h>

namespace foundation {
namespace {

TEST(Base64Tests, EncodesAndDecodesTheStandardVectors) {
  const struct {
    const char* bytes;
    const char* text;
  } cases[] = {
      {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foob", "Zm9vYg=="},
      {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}, {"\xFB\xFF\xBF", "+/+/"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(base64EncodedString(std::string_view(c.bytes)), c.text);
    EXPECT_EQ(base64DecodedData(c.text), Data(c.bytes));
  }
  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  EXPECT_EQ(base64DecodedData(base64EncodedString(all))->bytes(), all);
  EXPECT_EQ(base64EncodedString(std::string(100, 'x')).find('\n'), std::string::npos);
}

TEST(Base64Tests, MalformedTextGivesNone) {
  for (const char* text : {"Zg", "Zg=", "Zm9", "Z===", "====", "Zg==Zg==", "Zm=v", "Zm9v\n", " Zm9v",
                           "Zm9-", "Zm9_", "Zm\x80v"}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(base64DecodedData(text), std::nullopt);
  }
}

}  // namespace
}  // namespace foundation
