#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/foundation/JSONArrayCount.h"

namespace foundation {
namespace {

TEST(JSONArrayCountTests, CountsTheTopLevelOfOneArrayOnly) {
  struct Case {
    const char* text;
    std::optional<std::size_t> count;
  };
  const Case cases[] = {
      {"[]", 0},
      {" [ ] \n", 0},
      {R"([{"a":[1,2,{"b":"],["}]},7,"x,y",[[],[]],null])", 5},
      {"[1,[2,3]]", 2},
      {"{\"a\":1}", std::nullopt},
      {"7", std::nullopt},
      {"", std::nullopt},
      {"garbage", std::nullopt},
      {"[1,2", std::nullopt},
      {"[1,2] [3]", std::nullopt},
      {"[1,2] x", std::nullopt},
      {"[1,,2]", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(countJSONArrayElements(c.text), c.count);
  }
}

}  // namespace
}  // namespace foundation
