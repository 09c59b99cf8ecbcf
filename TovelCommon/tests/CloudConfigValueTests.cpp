#include <gtest/gtest.h>

#include "TovelCommon/CloudConfigValue.h"
#include "platform/foundation/JSONSerialization.h"

namespace tovel {
namespace {

using foundation::URL;
using foundation::Value;

Value json(std::string_view text) {
  auto value = foundation::JSONSerialization::JSONObjectWithData(text, foundation::JSONReadingOptions::FragmentsAllowed);
  return value ? *value : Value();
}

CloudConfigValue configValue(std::string_view rawJSON) {
  return {json(rawJSON), *URL::parse("https://host.invalid/config/Skyvane/config1.7.json")};
}

TEST(CloudConfigValueTest, TypedAccessorsYieldOnlyForTheirType) {
  struct Case {
    const char* raw;
    std::optional<std::string> string;
    std::optional<std::int64_t> integer;
    std::optional<bool> boolean;
  };
  const Case cases[] = {
      {R"("text")", "text", std::nullopt, std::nullopt},
      {R"("12")", "12", std::nullopt, std::nullopt},
      {R"("true")", "true", std::nullopt, std::nullopt},
      {"3", std::nullopt, 3, std::nullopt},
      {"2.0", std::nullopt, 2, std::nullopt},
      {"2.5", std::nullopt, std::nullopt, std::nullopt},
      {"1", std::nullopt, 1, true},
      {"1.0", std::nullopt, 1, true},
      {"0", std::nullopt, 0, false},
      {"2", std::nullopt, 2, std::nullopt},
      {"1e300", std::nullopt, std::nullopt, std::nullopt},
      {"true", std::nullopt, std::nullopt, true},
      {"false", std::nullopt, std::nullopt, false},
      {"null", std::nullopt, std::nullopt, std::nullopt},
      {"[1]", std::nullopt, std::nullopt, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.raw);
    const CloudConfigValue value = configValue(c.raw);
    EXPECT_EQ(value.string(), c.string);
    EXPECT_EQ(value.integer(), c.integer);
    EXPECT_EQ(value.boolean(), c.boolean);
  }
}

TEST(CloudConfigValueTest, StringArrayNeedsTextsOnly) {
  EXPECT_EQ(configValue(R"(["a","b"])").stringArray(), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(configValue("[]").stringArray(), std::vector<std::string>{});
  EXPECT_FALSE(configValue(R"(["a",1])").stringArray());
  EXPECT_FALSE(configValue(R"("a")").stringArray());
}

TEST(CloudConfigValueTest, URLsResolveAgainstTheConfigurationFile) {
  struct Case {
    const char* raw;
    std::optional<std::string> url;
  };
  const Case cases[] = {
      {R"("https://other.invalid/x.png")", "https://other.invalid/x.png"},
      {R"("icons/a.png")", "https://host.invalid/config/Skyvane/icons/a.png"},
      {R"("/top.png")", "https://host.invalid/top.png"},
      {R"("not a url")", std::nullopt},
      {"5", std::nullopt},
      {"null", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.raw);
    auto url = configValue(c.raw).url();
    EXPECT_EQ(url ? std::optional(url->absoluteString()) : std::nullopt, c.url);
  }
  // Without a base a relative link stays relative.
  EXPECT_EQ(resolveConfigURL("a/b.png", std::nullopt)->absoluteString(), "a/b.png");
}

struct Point {
  std::int64_t x = 0;
  static foundation::Result<Point> fromJSON(const Value& value) {
    auto x = value["x"].asInt64();
    if (!x) return foundation::Error::withDescription("test", 1, "no x");
    return Point{*x};
  }
};

TEST(CloudConfigValueTest, DecodeTakesListsAndMapsOnly) {
  EXPECT_EQ(configValue(R"({"x": 4})").decode<Point>()->x, 4);
  EXPECT_FALSE(configValue(R"({"y": 4})").decode<Point>());
  EXPECT_FALSE(configValue("4").decode<Value>());
  EXPECT_FALSE(configValue(R"("x")").decode<Value>());
  EXPECT_EQ(configValue("[1, true]").decode<Value>(), json("[1, true]"));
}

}  // namespace
}  // namespace tovel
