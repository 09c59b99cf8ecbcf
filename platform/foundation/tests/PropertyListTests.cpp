#include "platform/foundation/PropertyListSerialization.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/foundation/Error.h"
#include "platform/foundation/URL.h"

namespace foundation {
namespace {

Result<Value> roundTrip(const Value& value) {
  auto bytes = PropertyListSerialization::dataFromPropertyList(value);
  if (!bytes) return bytes.error();
  return PropertyListSerialization::propertyListWithData(*bytes);
}

/// Equal values with equal kinds all the way down (== alone counts true == 1 == 1.0).
void expectSameKinds(const Value& a, const Value& b) {
  ASSERT_EQ(a.kind(), b.kind()) << a.description() << " vs " << b.description();
  if (const Number* n = a.number()) {
    EXPECT_EQ(n->kind(), b.number()->kind()) << a.description();
    EXPECT_EQ(a, b);
  } else if (const Array* array = a.array()) {
    ASSERT_EQ(array->size(), b.array()->size());
    for (std::size_t i = 0; i < array->size(); ++i) expectSameKinds((*array)[i], (*b.array())[i]);
  } else if (const Dictionary* dict = a.dictionary()) {
    ASSERT_EQ(dict->size(), b.dictionary()->size());
    for (const auto& [key, value] : *dict) expectSameKinds(value, (*b.dictionary())[key]);
  } else {
    EXPECT_EQ(a, b);
  }
}

TEST(PropertyListTest, RoundTripKeepsEveryKind) {
  Dictionary wide;
  for (int i = 0; i < 300; ++i) wide.set("key" + std::to_string(i), i % 3 ? Value(i) : Value("v"));
  const Value config = Dictionary{
      {"enabled", true},
      {"disabled", false},
      {"one", 1},
      {"oneAsDouble", 1.0},
      {"float", 1.5f},
      {"negative", -5},
      {"min", std::numeric_limits<std::int64_t>::min()},
      {"sizes", Array{255, 256, 65535, 65536, 4294967295LL, 4294967296LL}},
      {"unsigned", std::uint64_t{7}},
      {"huge", std::numeric_limits<std::uint64_t>::max()},
      {"pi", 3.141592653589793},
      {"infinity", std::numeric_limits<double>::infinity()},
      {"date", Date{123456.789}},
      {"data", Data::fromView(std::string("\0\x01\xff", 3))},
      {"ascii", "hello"},
      {"unicode", "gr\u00fc\u00dfe \u2603 \U0001F600"},
      {"empty", ""},
      {"long", std::string(1000, 'x')},
      {"nested", Array{Array{}, Dictionary{}, Dictionary{{"\u00e9", Array{true, 0}}}}},
      {"wide", wide},
  };
  auto back = roundTrip(config);
  ASSERT_TRUE(back.ok()) << back.error().localizedDescription();
  expectSameKinds(config, *back);

  for (const Value& top : {Value("just text"), Value(42), Value(Array{1, "a"})}) {
    auto scalar = roundTrip(top);
    ASSERT_TRUE(scalar.ok());
    expectSameKinds(top, *scalar);
  }
}

TEST(PropertyListTest, RefusesValuesAPropertyListCannotHold) {
  struct Case {
    const char* name;
    Value value;
    const char* where;
  };
  const Case cases[] = {
      {"null at the top", nullptr, ""},
      {"null inside", Dictionary{{"a", Array{1, Dictionary{{"b", nullptr}}}}}, "a[1].b"},
      {"absent element", Array{Value()}, "[0]"},
      {"URL", Dictionary{{"u", *URL::parse("https://example.invalid/")}}, "u"},
      {"error", Array{Error("D", 1)}, "[0]"},
      {"opaque", Array{Opaque{nullptr, "Thing"}}, "Thing"},
      {"text that is not UTF-8", Array{std::string("\xff\xfe")}, "[0]"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto bytes = PropertyListSerialization::dataFromPropertyList(c.value);
    ASSERT_FALSE(bytes.ok());
    EXPECT_TRUE(bytes.error().is(kCocoaErrorDomain, 3851));
    EXPECT_NE(bytes.error().localizedDescription().find(c.where), std::string::npos)
        << bytes.error().localizedDescription();
    EXPECT_FALSE(PropertyListSerialization::propertyListIsValid(c.value));
  }
}

/// A hand-made file: header, the given objects, an offset table and a trailer.
std::string assemble(const std::vector<std::string>& objects, std::uint64_t top = 0, int refSize = 1,
                     std::uint64_t count = ~0ull) {
  std::string out = "bplist00";
  std::vector<std::size_t> offsets;
  for (const auto& o : objects) {
    offsets.push_back(out.size());
    out += o;
  }
  const std::size_t table = out.size();
  const int offsetSize = table < 256 ? 1 : 2;
  for (auto o : offsets) {
    if (offsetSize == 2) out.push_back(static_cast<char>(o >> 8));
    out.push_back(static_cast<char>(o));
  }
  out.append(6, '\0');
  out.push_back(static_cast<char>(offsetSize));
  out.push_back(static_cast<char>(refSize));
  const std::uint64_t n = count == ~0ull ? objects.size() : count;
  for (int i = 7; i >= 0; --i) out.push_back(static_cast<char>(n >> (8 * i)));
  for (int i = 7; i >= 0; --i) out.push_back(static_cast<char>(top >> (8 * i)));
  for (int i = 7; i >= 0; --i) out.push_back(static_cast<char>(table >> (8 * i)));
  return out;
}

TEST(PropertyListTest, CorruptInputIsAnErrorNeverACrash) {
  const std::string good = PropertyListSerialization::dataFromPropertyList(
                               Dictionary{{"a", Array{1, "two", 3.0, Data::fromView("x")}}, {"b", true}})
                               ->bytes();
  struct Case {
    const char* name;
    std::string bytes;
  };
  std::vector<Case> cases = {
      {"empty", ""},
      {"garbage", "this is not a property list at all, not even close"},
      {"XML", "<?xml version=\"1.0\"?><plist><dict/></plist>"},
      {"header only", "bplist00"},
      {"truncated", good.substr(0, good.size() - 10)},
      {"trailer cut off", good.substr(0, good.size() - 1)},
      {"array referencing itself", assemble({"\xA1\x00"})},
      {"two arrays referencing each other", assemble({"\xA1\x01", "\xA1\x00"})},
      {"reference beyond the objects", assemble({"\xA1\x05"})},
      {"top object beyond the objects", assemble({"\x09"}, 3)},
      {"object count beyond the table", assemble({"\x09"}, 0, 1, 1ull << 60)},
      {"reference size zero", assemble({"\x09"}, 0, 0)},
      {"huge array count", assemble({std::string("\xAF\x13\x7f\xff\xff\xff\xff\xff\xff\xff", 10)})},
      {"string longer than the file", assemble({"\x5F\x10\xff" "abc"})},
      {"UTF-16 string with a lone surrogate", assemble({std::string("\x61\xD8\x00", 3)})},
      {"dictionary with a number key", assemble({"\xD1\x01\x01", "\x10\x05"})},
      {"integer beyond 64 bits", assemble({std::string("\x14\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00", 17)})},
      {"real of one byte", assemble({"\x20\x01"})},
      {"unknown marker", assemble({"\xF0"})},
      {"null marker", assemble({std::string("\x00", 1)})},
  };
  // Every single-byte corruption of a good file, and every truncation, must fail or decode.
  for (std::size_t i = 0; i < good.size(); ++i) {
    for (int flip : {0x01, 0x80, 0xFF}) {
      std::string bad = good;
      bad[i] = static_cast<char>(bad[i] ^ flip);
      (void)PropertyListSerialization::propertyListWithData(bad);
    }
    (void)PropertyListSerialization::propertyListWithData(good.substr(0, i));
  }
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto value = PropertyListSerialization::propertyListWithData(c.bytes);
    ASSERT_FALSE(value.ok()) << value->description();
    EXPECT_TRUE(value.error().is(kCocoaErrorDomain, 3840)) << value.error().localizedDescription();
  }
}

TEST(PropertyListTest, SharedObjectsDecodeOnceButExponentialSharingIsRefused) {
  // Two references to one string and one array: fine, decoded once.
  auto shared = PropertyListSerialization::propertyListWithData(assemble({"\xA2\x01\x01", "\x53" "abc"}));
  ASSERT_TRUE(shared.ok());
  EXPECT_EQ(*shared, Value(Array{"abc", "abc"}));

  // Each array holds the next one twice: 60 levels stand for 2^60 values.
  std::vector<std::string> objects;
  for (int i = 0; i < 60; ++i) objects.push_back(std::string("\xA2") + char(i + 1) + char(i + 1));
  objects.push_back("\x09");
  auto bomb = PropertyListSerialization::propertyListWithData(assemble(objects));
  ASSERT_FALSE(bomb.ok());
  EXPECT_TRUE(bomb.error().is(kCocoaErrorDomain, 3840));
}

TEST(PropertyListTest, DeepNestingIsRefusedBothWays) {
  Value deep = Array{};
  for (int i = 0; i < 1000; ++i) deep = Array{deep};
  EXPECT_FALSE(PropertyListSerialization::dataFromPropertyList(deep).ok());

  std::vector<std::string> objects;
  for (int i = 0; i < 2000; ++i) objects.push_back(std::string("\xA1") + char((i + 1) >> 8) + char((i + 1) & 0xFF));
  objects.push_back("\x09");
  auto value = PropertyListSerialization::propertyListWithData(assemble(objects, 0, 2));
  ASSERT_FALSE(value.ok());
  EXPECT_TRUE(value.error().is(kCocoaErrorDomain, 3840));
  EXPECT_NE(value.error().localizedDescription().find("too deep"), std::string::npos);

  objects.erase(objects.begin(), objects.end() - 300);  // 300 levels are fine
  for (int i = 0; i < 299; ++i) objects[i] = std::string("\xA1") + char((i + 1) >> 8) + char((i + 1) & 0xFF);
  EXPECT_TRUE(PropertyListSerialization::propertyListWithData(assemble(objects, 0, 2)).ok());
}

}  // namespace
}  // namespace foundation
