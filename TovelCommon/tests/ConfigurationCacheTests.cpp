#include <gtest/gtest.h>

#include "TovelCommon/DataExtensions.h"
#include "TovelCommon/UserDefaultsExtensions.h"
#include "TovelTestSupport.h"
#include "platform/foundation/UserDefaults.h"

namespace tovel {
namespace {

using foundation::Data;
using foundation::Value;

constexpr std::string_view kKey = "harborLedgerQStoneMaps";

TEST(XoredTest, ScramblesByteByByteWithTheKeyRepeating) {
  std::string input(50, '\0');
  for (std::size_t i = 0; i < input.size(); ++i) input[i] = static_cast<char>(i * 7);
  auto scrambled = xored(Data(input), kKey);
  ASSERT_TRUE(scrambled);
  ASSERT_EQ(scrambled->size(), input.size());
  // Byte 22 uses the key's byte 0 again, byte 23 its byte 1.
  EXPECT_EQ(scrambled->bytes()[0], static_cast<char>(input[0] ^ 'h'));
  EXPECT_EQ(scrambled->bytes()[22], static_cast<char>(input[22] ^ 'h'));
  EXPECT_EQ(scrambled->bytes()[23], static_cast<char>(input[23] ^ 'a'));
  EXPECT_EQ(xored(*scrambled, kKey), Data(input));

  EXPECT_EQ(xored(Data(), kKey), Data());
  EXPECT_FALSE(xored(Data(input), ""));
}

class ScrambledDefaultsTest : public ::testing::Test {
 protected:
  test_support::ScopedDeviceRoot root_;
  std::shared_ptr<foundation::UserDefaults> defaults_ = foundation::UserDefaults::suite("tovel.cache.tests");
};

TEST_F(ScrambledDefaultsTest, RoundTripKeepsNumberKindsAndIsNotPlainText) {
  const Value config = foundation::Dictionary{
      {"cloudConfig", foundation::Dictionary{{"count", 3}, {"ratio", 2.5}, {"on", true}, {"name", "x"}}},
      {"lists", foundation::Array{"a", "b"}}};
  ASSERT_TRUE(setScrambled(*defaults_, config, "CConfigData", kKey));

  auto stored = defaults_->data("CConfigData");
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->view().find("bplist00"), std::string_view::npos);

  auto back = scrambledObject(*defaults_, "CConfigData", kKey);
  ASSERT_TRUE(back);
  EXPECT_EQ(*back, config);
  const Value& section = (*back)["cloudConfig"];
  EXPECT_TRUE(section["count"].number()->isInteger());
  EXPECT_TRUE(section["ratio"].number()->isFloatingPoint());
  EXPECT_TRUE(section["on"].isBool());
}

TEST_F(ScrambledDefaultsTest, AValueHoldingNullIsNotStoredAndTheEarlierEntryStays) {
  ASSERT_TRUE(setScrambled(*defaults_, foundation::Dictionary{{"v", 1}}, "CConfigData", kKey));
  EXPECT_FALSE(setScrambled(*defaults_, foundation::Dictionary{{"v", foundation::Array{nullptr}}}, "CConfigData", kKey));
  EXPECT_EQ(scrambledObject(*defaults_, "CConfigData", kKey), Value(foundation::Dictionary{{"v", 1}}));
}

TEST_F(ScrambledDefaultsTest, EntriesThatAreNotScrambledPropertyListsReadAsAbsent) {
  ASSERT_TRUE(defaults_->set("text", "not data"));
  ASSERT_TRUE(defaults_->set("garbage", Data(std::string("\x01\x02\x03 not a plist"))));
  EXPECT_FALSE(scrambledObject(*defaults_, "missing", kKey));
  EXPECT_FALSE(scrambledObject(*defaults_, "text", kKey));
  EXPECT_FALSE(scrambledObject(*defaults_, "garbage", kKey));
}

TEST_F(ScrambledDefaultsTest, EncodableValuesAreStoredAsJSONData) {
  ASSERT_TRUE(setEncodable(*defaults_, Value(foundation::Dictionary{{"a", 1}}), "coded"));
  auto back = decodable<Value>(*defaults_, "coded");
  ASSERT_TRUE(back);
  EXPECT_EQ(**back, Value(foundation::Dictionary{{"a", 1}}));

  ASSERT_TRUE(defaults_->set("text", "not data"));
  auto text = decodable<Value>(*defaults_, "text");
  ASSERT_TRUE(text);
  EXPECT_FALSE(*text);

  ASSERT_TRUE(defaults_->set("bad", Data(std::string("{not json"))));
  auto bad = decodable<Value>(*defaults_, "bad");
  ASSERT_FALSE(bad);
  EXPECT_EQ(bad.error().code(), 3840);
}

}  // namespace
}  // namespace tovel
