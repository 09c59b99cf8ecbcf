#pragma once
#include <gtest/gtest.h>

#include <string>

#include "platform/foundation/JSONSerialization.h"

/// The JSON text of `value` with sorted keys, so that two values compare by content whatever
/// their key order; a bool and the number 1 still differ. Fails the test when `value` is not JSON.
inline std::string sortedJSON(const foundation::Value& value) {
  auto text = foundation::JSONSerialization::dataWithJSONObject(value, foundation::JSONWritingOptions::SortedKeys);
  EXPECT_TRUE(text.ok()) << (text.ok() ? "" : text.error().localizedDescription());
  return text.ok() ? *text : "";
}

/// `expected` (JSON text) parsed and written back with sorted keys.
inline std::string sortedJSONOfText(const std::string& expected) {
  auto parsed = foundation::JSONSerialization::JSONObjectWithData(expected);
  EXPECT_TRUE(parsed.ok()) << expected;
  return parsed.ok() ? sortedJSON(*parsed) : "";
}

/// Expects `value` to write the same JSON as `expected`, key order aside.
#define EXPECT_JSON_EQ(value, expected) EXPECT_EQ(sortedJSON(value), sortedJSONOfText(expected))
