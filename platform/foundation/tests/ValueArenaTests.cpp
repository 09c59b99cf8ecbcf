// The JSON reader builds a document's arrays and dictionaries in one arena. These tests hold parts
// of parsed documents beyond the document, change them, and release them on other threads; the
// sanitizer builds turn any early free, leak or race of the arena into a failure.

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/foundation/JSONSerialization.h"

namespace foundation {
namespace {

Value parse(std::string_view text) {
  auto result = JSONSerialization::JSONObjectWithData(text);
  EXPECT_TRUE(result.ok()) << text;
  return result.ok() ? *result : Value();
}

std::string write(const Value& value) {
  auto result = JSONSerialization::dataWithJSONObject(value, JSONWritingOptions::WithoutEscapingSlashes);
  EXPECT_TRUE(result.ok());
  return result.ok() ? *result : std::string();
}

// Twelve keys, so that lookups go through the dictionary's hash index.
std::string wideObject(int n) {
  std::string text = "{";
  for (int k = 0; k < 12; ++k) {
    text += (k ? ",\"key" : "\"key") + std::to_string(k) + "\":[" + std::to_string(n) + ",\"value " +
            std::to_string(n * 100 + k) + " long enough to leave the small string buffer\"]";
  }
  return text + "}";
}

TEST(ValueArenaTests, PartsOfADocumentOutliveIt) {
  const struct {
    const char* name;
    const char* text;
  } kDocuments[] = {
      {"empty array", "[]"},
      {"empty object", "{}"},
      {"only empty containers", "[[],{},[[]]]"},
      // The first "a" is built and then replaced while the document is still being built.
      {"duplicate key replacing a container", R"({"a":[1,[2,{"b":3}]],"keep":{"x":[true]},"a":{"c":"d"}})"},
  };
  for (const auto& document : kDocuments) {
    SCOPED_TRACE(document.name);
    Value whole = parse(document.text);
    const std::string expected = write(whole);
    Value firstPart = whole.array() ? whole[0] : whole["keep"];
    const std::string firstPartText = firstPart.description();
    Value copy = whole;
    whole = Value();
    EXPECT_EQ(write(copy), expected);
    copy = Value();
    EXPECT_EQ(firstPart.description(), firstPartText);
  }

  Value kept;
  {
    const Value document = parse("[" + wideObject(1) + "," + wideObject(2) + "]");
    kept = document[1];
  }
  ASSERT_TRUE(kept.dictionary());
  EXPECT_EQ(kept["key11"][0].asInt64(), 2);
  EXPECT_EQ(kept["key7"][1].asString(), "value 207 long enough to leave the small string buffer");
}

TEST(ValueArenaTests, ChangesToAParsedTreeLeaveItsOtherHoldersAlone) {
  const Value original = parse("[" + wideObject(1) + ",[1,2,3]]");
  const std::string originalText = write(original);

  Value changed = original;
  Array* list = changed.mutableArray();
  ASSERT_TRUE(list);
  Dictionary* object = list->mutableAt(0)->mutableDictionary();
  ASSERT_TRUE(object);
  object->set("key3", "replaced");
  EXPECT_TRUE(object->remove("key0"));
  object->set("added", Array{true});
  list->mutableAt(1)->mutableArray()->push_back(4);
  EXPECT_TRUE(list->erase(0));

  EXPECT_EQ(write(original), originalText);
  EXPECT_EQ(write(changed), "[[1,2,3,4]]");

  // A change to the one holder of a parsed dictionary happens in place and keeps its index right.
  Value alone = parse(wideObject(5));
  Dictionary* d = alone.mutableDictionary();
  EXPECT_TRUE(d->remove("key5"));
  d->set("key11", 11);
  EXPECT_FALSE(d->contains("key5"));
  EXPECT_EQ((*d)["key11"].asInt64(), 11);
  EXPECT_EQ((*d)["key10"][0].asInt64(), 5);
  EXPECT_EQ(d->keys().front(), "key0");
}

TEST(ValueArenaTests, HoldersOnOtherThreadsReleaseTheDocumentLast) {
  std::string text = "[";
  for (int n = 0; n < 8; ++n) text += (n ? "," : "") + wideObject(n);
  text += "]";
  for (int round = 0; round < 20; ++round) {
    Value document = parse(text);
    std::vector<std::thread> holders;
    std::vector<std::string> seen(8);
    for (std::size_t n = 0; n < 8; ++n) {
      holders.emplace_back([part = document[n], &seen, n] {
        Value mine = part;
        seen[n] = *mine["key4"][1].string();
      });
    }
    document = Value();
    for (auto& t : holders) t.join();
    EXPECT_EQ(seen[3], "value 304 long enough to leave the small string buffer");
  }
}

TEST(ValueArenaTests, DocumentsReadExactlyIntoTheMemoryOfFreedOnes) {
  // Large enough that the documents' memory comes in several of the largest chunks, which a
  // freed document leaves for the next one.
  const auto documentText = [](int first) {
    std::string text = "[";
    for (int n = first; n < first + 4000; ++n) text += (n > first ? "," : "") + wideObject(n);
    return text + "]";
  };
  const std::string firstText = documentText(0);
  const std::string secondText = documentText(4000);
  Value kept;
  {
    const Value first = parse(firstText);
    EXPECT_EQ(write(first), firstText);
    kept = first[17];
  }
  for (int round = 0; round < 2; ++round) {
    const Value second = parse(secondText);
    EXPECT_EQ(write(second), secondText);
    if (round == 0) {
      EXPECT_EQ(kept["key9"][1].asString(), "value 1709 long enough to leave the small string buffer");
      kept = Value();
    }
  }
}

}  // namespace
}  // namespace foundation
