// The rule compiler's stages, each fed from the smallest text through a tiny helper.

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/core/RuleCompiler/RuleCompiler.h"
#include "app/core/RuleCompiler/RuleFileWriting.h"
#include "app/core/RuleCompiler/WhitelistRewrite.h"
#include "json/JSON.h"
#include "platform/foundation/JSONSerialization.h"
#include "testing/ProgramRun.h"
#include "testing/TemporaryFolder.h"

namespace fendrel {
namespace {

namespace fs = std::filesystem;

std::string readText(const fs::path& path) { return testing_support::readText(path.string()); }

json::JSON parse(const std::string& text) {
  auto parsed = json::JSON::fromData(text, foundation::JSONReadingOptions::FragmentsAllowed);
  EXPECT_TRUE(parsed) << text;
  return parsed ? *parsed : json::JSON();
}

/// Compact text of a JSON value, to compare a rule with the text a case expects.
std::string text(const json::JSON& value) {
  auto written = foundation::JSONSerialization::dataWithJSONObject(value.object());
  return written ? *written : "<unwritable>";
}

class RuleCompilerTests : public ::testing::Test {
 protected:
  foundation::URL file(const std::string& name) const { return foundation::URL::fileURL((folder_ / name).string()); }
  foundation::URL write(const std::string& name, const std::string& contents) const {
    std::ofstream(folder_ / name, std::ios::binary) << contents;
    return file(name);
  }
  /// Compiles lists given as texts with the whitelist into output.json; the result of the run.
  foundation::Result<RuleCompilationReport> compile(const std::vector<std::string>& lists,
                                                    std::vector<std::string> whitelist = {},
                                                    std::optional<foundation::URL> builtIn = std::nullopt) {
    std::vector<CachedRuleList> files;
    for (std::size_t i = 0; i < lists.size(); ++i) {
      const std::string id = "list" + std::to_string(i);
      files.push_back({write(id + ".json", lists[i]), id, "List " + std::to_string(i)});
    }
    return compileRuleFile({.output = output(),
                            .lists = files,
                            .whitelist = RuleWhitelist::make(std::move(whitelist)),
                            .builtInRuleFile = std::move(builtIn)});
  }
  foundation::URL output() const { return file("output.json"); }
  std::string outputText() const { return readText(folder_ / "output.json"); }
  /// The names in the folder besides the inputs and output.json.
  std::vector<std::string> strayFiles() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder_)) {
      auto name = entry.path().filename().string();
      if (name != "output.json" && name.rfind("list", 0) != 0 && name != "builtin.json") names.push_back(name);
    }
    return names;
  }

  testing_support::TemporaryFolder temporary_{"fendrel-rules"};
  fs::path folder_ = temporary_.path();
};

TEST(WhitelistRewriteTests, OnlyIfDomainListsLoseWhitelistedSites) {
  struct Case {
    const char* name;
    const char* trigger;
    std::vector<std::string> whitelist;
    const char* expected;  // the trigger after the rewrite; nullptr when the rule is dropped
  };
  const Case cases[] = {
      {"empty whitelist changes nothing", R"({"url-filter":"x","if-domain":["s1.org"]})", {},
       R"({"url-filter":"x","if-domain":["s1.org"]})"},
      {"if-domain fully whitelisted drops the rule", R"({"url-filter":"x","if-domain":["s1.org","s1.org"]})",
       {"s1.org"}, nullptr},
      {"if-domain keeps the rest, no unless-domain", R"({"url-filter":"x","if-domain":["s1.org","s2.org"]})",
       {"s1.org"}, R"({"url-filter":"x","if-domain":["s2.org"]})"},
      {"if-domain removal is case-sensitive", R"({"url-filter":"x","if-domain":["s1.org"]})", {"S1.org"},
       R"({"url-filter":"x","if-domain":["s1.org"]})"},
      {"empty if-domain is dropped", R"({"url-filter":"x","if-domain":[]})", {"s1.org"}, nullptr},
      {"no unless-domain is stamped", R"({"url-filter":"x"})", {"s1.org"}, R"({"url-filter":"x"})"},
      {"own unless-domain stays as it is", R"({"url-filter":"x","unless-domain":["s3.org"]})", {"s1.org"},
       R"({"url-filter":"x","unless-domain":["s3.org"]})"},
      {"if-top-url stays unchanged", R"({"url-filter":"x","if-top-url":["https://a.org"]})", {"s1.org"},
       R"({"url-filter":"x","if-top-url":["https://a.org"]})"},
      {"if-domain of another form stays unchanged", R"({"url-filter":"x","if-domain":["a.org",1]})", {"s1.org"},
       R"({"url-filter":"x","if-domain":["a.org",1]})"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto rule = parse(std::string(R"({"trigger":)") + c.trigger + R"(,"action":{"type":"block"}})");
    auto rewritten = applyWhitelist(rule, RuleWhitelist::make(c.whitelist));
    if (!c.expected) {
      EXPECT_FALSE(rewritten);
      continue;
    }
    ASSERT_TRUE(rewritten);
    EXPECT_EQ(text((*rewritten)["trigger"]), text(parse(c.expected)));
    EXPECT_EQ(text((*rewritten)["action"]), R"({"type":"block"})");
  }
}

TEST(WhitelistRewriteTests, ExceptionRuleHoldsTheValidSitesLowerCasedOnceInStoredOrder) {
  auto whitelist = RuleWhitelist::make(
      {"Example.COM", "bad site.org", "*Sub.Example.com", "https://x.org/", "", "*", "example.com", "caf\xC3\xA9.fr", "ok.org"});
  EXPECT_EQ(whitelist.ruleDomains, (std::vector<std::string>{"example.com", "*sub.example.com", "ok.org"}));
  auto rule = whitelistExceptionRule(whitelist);
  ASSERT_TRUE(rule);
  EXPECT_EQ(text(json::JSON(*rule)),
            R"({"trigger":{"url-filter":".*","if-domain":["example.com","*sub.example.com","ok.org"]},)"
            R"("action":{"type":"ignore-previous-rules"}})");
  EXPECT_FALSE(whitelistExceptionRule(RuleWhitelist::make({"bad site.org", ""})));
  EXPECT_FALSE(whitelistExceptionRule(RuleWhitelist::make({})));
}

TEST(WhitelistRewriteTests, RuleWithoutTriggerObjectIsLeftAsItIs) {
  auto rule = parse(R"({"action":{"type":"block"}})");
  auto rewritten = applyWhitelist(rule, RuleWhitelist::make({"s1.org"}));
  ASSERT_TRUE(rewritten);
  EXPECT_EQ(text(*rewritten), R"({"action":{"type":"block"}})");
}

TEST(WhitelistRewriteTests, FreeHelpers) {
  EXPECT_EQ(stringArray(foundation::Array{"a", "b"}), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(stringArray(foundation::Array{}), std::vector<std::string>{});
  EXPECT_FALSE(stringArray(foundation::Array{"a", 1}));
  EXPECT_EQ(removeWhitelistedDomains({"a", "b", "a", "A"}, {"a"}), (std::vector<std::string>{"b", "A"}));
}

TEST_F(RuleCompilerTests, BucketsComeInOrderAcrossListsAndOtherTypesNeverReachTheOutput) {
  const std::string listA =
      R"([{"trigger":{"url-filter":"a1"},"action":{"type":"ignore-previous-rules"}},)"
      R"({"trigger":{"url-filter":"a2"},"action":{"type":"block"}},)"
      R"({"trigger":{"url-filter":"a3"},"action":{"type":"block-cookies"}},)"
      R"({"trigger":{"url-filter":"a4"},"action":{"type":"make-https"}},)"
      R"({"trigger":{"url-filter":"a5"},"action":{}},)"
      R"({"trigger":{"url-filter":"a6"},"action":{"type":7}},)"
      R"({"trigger":{"url-filter":"a7"},"action":{"type":"Block"}}])";
  const std::string listB =
      R"({"x":{"trigger":{"url-filter":"b1"},"action":{"type":"css-display-none","selector":".ad"}},)"
      R"("y":{"trigger":{"url-filter":"b2"},"action":{"type":"block"}},)"
      R"("z":{"trigger":{"url-filter":"b3"},"action":{"type":"ignore-previous-rules"}}})";
  ASSERT_TRUE(compile({listA, listB, "5", "not json", R"("text")"}));
  auto out = parse(outputText());
  std::vector<std::string> filters;
  for (const auto& [index, rule] : out) filters.push_back(*rule.get({"trigger", "url-filter"}).string());
  EXPECT_EQ(filters, (std::vector<std::string>{"a2", "b2", "b1", "a1", "b3"}));
  EXPECT_EQ(text(out[2]), R"({"trigger":{"url-filter":"b1"},"action":{"type":"css-display-none","selector":".ad"}})");
}

TEST_F(RuleCompilerTests, WhitelistBecomesOneExceptionRuleAfterEveryOtherRule) {
  const std::string list =
      R"([{"trigger":{"url-filter":"i"},"action":{"type":"ignore-previous-rules"}},)"
      R"({"trigger":{"url-filter":"t","if-top-url":["^https:a\\.org"]},"action":{"type":"block"}},)"
      R"({"trigger":{"url-filter":"u","unless-domain":["s3.org"]},"action":{"type":"block"}},)"
      R"({"trigger":{"url-filter":"d","if-domain":["s1.org"]},"action":{"type":"block"}},)"
      R"({"trigger":{"if-domain":["s1.org","s2.org","s1.org"],"url-filter":"p"},"action":{"type":"block"}},)"
      R"({"trigger":{"url-filter":"m","if-domain":["S1.org","s2.org"]},"action":{"type":"block"}},)"
      R"({"trigger":{"url-filter":"c"},"action":{"type":"css-display-none","selector":".ad"}}])";
  ASSERT_TRUE(compile({list}, {"S1.org", "s1.org", "off limits"}));
  // "d" was limited to a whitelisted site only; "p" and "m" lose theirs ("m" thereby loses the
  // upper-case site the browser would refuse); every other rule is copied as it was.
  EXPECT_EQ(outputText(),
            R"([{"trigger":{"url-filter":"t","if-top-url":["^https:a\\.org"]},"action":{"type":"block"}},)"
            R"({"trigger":{"url-filter":"u","unless-domain":["s3.org"]},"action":{"type":"block"}},)"
            R"({"trigger":{"if-domain":["s2.org"],"url-filter":"p"},"action":{"type":"block"}},)"
            R"({"trigger":{"url-filter":"m","if-domain":["s2.org"]},"action":{"type":"block"}},)"
            R"({"trigger":{"url-filter":"c"},"action":{"type":"css-display-none","selector":".ad"}},)"
            R"({"trigger":{"url-filter":"i"},"action":{"type":"ignore-previous-rules"}},)"
            R"({"trigger":{"url-filter":".*","if-domain":["s1.org"]},"action":{"type":"ignore-previous-rules"}}])");

  // A whitelist without a single valid site adds nothing.
  ASSERT_TRUE(compile({list}, {"off limits"}));
  EXPECT_EQ(outputText().find(R"("url-filter":".*")"), std::string::npos);
}

TEST_F(RuleCompilerTests, WhitelistChangesOnlyTheDomainListOfTheRuleItNames) {
  // The sites that go are cut from the rule as the list wrote it; keys written with escapes are
  // read as the parser reads them.
  struct Case {
    const char* name;
    std::string rule;
    std::string expected;
  };
  const Case cases[] = {
      {"escapes and brackets elsewhere stay as written",
       R"({"trigger":{"url-filter":"a\/[\"]{,}","resource-type":["image"],"if-domain":["s1.org","s\u0032.org"]},"action":{"type":"block"}})",
       R"({"trigger":{"url-filter":"a\/[\"]{,}","resource-type":["image"],"if-domain":["s\u0032.org"]},"action":{"type":"block"}})"},
      {"the last of repeated lists",
       R"({"trigger":{"if-domain":["s9.org"],"url-filter":"y","if-domain":["s1.org","s4.org","s1.org"]},"action":{"type":"block"}})",
       R"({"trigger":{"if-domain":["s9.org"],"url-filter":"y","if-domain":["s4.org"]},"action":{"type":"block"}})"},
      {"the last of repeated triggers",
       R"({"trigger":{"url-filter":"x","if-domain":["s1.org"]},"trigger":{"url-filter":"z","if-domain":["s1.org","s6.org"]},"action":{"type":"block"}})",
       R"({"trigger":{"url-filter":"x","if-domain":["s1.org"]},"trigger":{"url-filter":"z","if-domain":["s6.org"]},"action":{"type":"block"}})"},
      {"a key written with an escape",
       R"({"trigger":{"url-filter":"w","if-\u0064omain":["s1.org","s3.org"]},"action":{"type":"block"}})",
       R"({"trigger":{"url-filter":"w","if-domain":["s3.org"]},"action":{"type":"block"}})"},
      {"a rule laid out with whitespace",
       R"({ "trigger": {"url-filter": "v", "if-domain": ["s1.org", "s7.org"]}, "action": {"type": "block"} })",
       R"({"trigger":{"url-filter":"v","if-domain":["s7.org"]},"action":{"type":"block"}})"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(compile({"[" + c.rule + "]"}, {"s1.org"}));
    const std::string exception = R"({"trigger":{"url-filter":".*","if-domain":["s1.org"]},"action":{"type":"ignore-previous-rules"}})";
    EXPECT_EQ(outputText(), "[" + c.expected + "," + exception + "]");
  }
}

TEST_F(RuleCompilerTests, RulesTheBrowserWouldRefuseAreLeftOutAndCountedPerList) {
  const std::string good = R"({"trigger":{"url-filter":"ok"},"action":{"type":"block"}})";
  const std::string listA = "[" + good +
                            R"(,{"trigger":{"url-filter":"a|b"},"action":{"type":"block"}},)"
                            R"({"trigger":{"url-filter":"x","if-domain":["Upper.org"]},"action":{"type":"block"}},)"
                            R"({"trigger":{"url-filter":"y|z"},"action":{"type":"ignore-previous-rules"}},)"
                            R"({"trigger":{"url-filter":"x"},"action":{"type":"css-display-none"}},)"
                            R"({"action":{"type":"block"}},)"
                            R"({"trigger":{"url-filter":"x"},"action":{"type":"make-https"}},)"
                            R"({"trigger":{"url-filter":")" + std::string(45000, 'a') +
                            R"("},"action":{"type":"block"}}])";
  const std::string listB = "[" + good + "]";
  const std::string listC = R"([7,{"trigger":{"url-filter":""},"action":{"type":"block"}}])";
  auto report = compile({listA, listB, listC});
  ASSERT_TRUE(report);
  EXPECT_EQ(report->writtenRules, 2u);
  ASSERT_EQ(report->leftOut.size(), 2u);
  const auto& a = report->leftOut[0];
  EXPECT_EQ(a.listID, "list0");
  EXPECT_EQ(a.listName, "List 0");
  EXPECT_EQ(a.total(), 6u);  // the make-https rule is of a kind the file never holds, not a fault
  EXPECT_EQ(a.byFault[static_cast<std::size_t>(RuleFault::UnsupportedURLFilter)], 2u);
  EXPECT_EQ(a.byFault[static_cast<std::size_t>(RuleFault::DomainNotLowerCaseASCII)], 1u);
  EXPECT_EQ(a.byFault[static_cast<std::size_t>(RuleFault::NoSelector)], 1u);
  EXPECT_EQ(a.byFault[static_cast<std::size_t>(RuleFault::NoTrigger)], 1u);
  EXPECT_EQ(a.byFault[static_cast<std::size_t>(RuleFault::CostlyURLFilter)], 1u);
  const auto& c = report->leftOut[1];
  EXPECT_EQ(c.listID, "list2");
  EXPECT_EQ(c.byFault[static_cast<std::size_t>(RuleFault::NotAnObject)], 1u);
  EXPECT_EQ(c.byFault[static_cast<std::size_t>(RuleFault::NoURLFilter)], 1u);
  EXPECT_EQ(outputText(), "[" + good + "," + good + "]");
}

TEST_F(RuleCompilerTests, RulesAreWrittenCompactlyWhateverTheListLooksLike) {
  // Braces, brackets, commas and escaped quotes inside strings; whitespace between tokens.
  const std::string list = R"([
  {"trigger": {"url-filter": "x\\{\"}"}, "action": {"type": "block"}},
  {"trigger":{"url-filter":"y],\"\\\\"},"action":{"type":"css-display-none","selector":"a[title=\"}\"]"}} ,
  7 ,
  {"trigger":{"url-filter":"z"},"action":{"type":"block"}}
])";
  auto report = compile({list});
  ASSERT_TRUE(report);
  EXPECT_EQ(outputText(),
            R"([{"trigger":{"url-filter":"x\\{\"}"},"action":{"type":"block"}},)"
            R"({"trigger":{"url-filter":"z"},"action":{"type":"block"}},)"
            R"({"trigger":{"url-filter":"y],\"\\\\"},"action":{"type":"css-display-none","selector":"a[title=\"}\"]"}}])");
  ASSERT_EQ(report->leftOut.size(), 1u);
  EXPECT_EQ(report->leftOut[0].byFault[static_cast<std::size_t>(RuleFault::NotAnObject)], 1u);
}

TEST_F(RuleCompilerTests, EmptyResultInstallsTheBuiltInFileByteForByte) {
  const std::string builtIn = "[\n  {\"trigger\": {\"url-filter\": \"ads\"}, \"action\": {\"type\": \"block\"}}\n]\n";
  auto builtInURL = write("builtin.json", builtIn);
  write("output.json", "[1]");
  ASSERT_TRUE(compile({R"([{"trigger":{"url-filter":"x"},"action":{"type":"make-https"}}])"}, {}, builtInURL));
  EXPECT_EQ(outputText(), builtIn);
  EXPECT_TRUE(strayFiles().empty());
  // Again, with the file in place: no leftover of the first run can make the second fail.
  ASSERT_TRUE(compile({}, {"s1.org"}, builtInURL));
  EXPECT_EQ(outputText(), builtIn);
  EXPECT_TRUE(strayFiles().empty());
}

TEST_F(RuleCompilerTests, EmptyResultWithoutBuiltInFileWritesAnEmptyArray) {
  ASSERT_TRUE(compile({}));
  EXPECT_EQ(outputText(), "[]");
}

TEST_F(RuleCompilerTests, FailuresAreReportedAndKeepThePreviousFile) {
  write("output.json", "[1]");
  EXPECT_FALSE(compile({}, {}, file("missing.json")));
  EXPECT_EQ(outputText(), "[1]");
  EXPECT_TRUE(strayFiles().empty());

  // A final write that fails is an error, not a success.
  fs::remove(folder_ / "output.json");
  fs::create_directory(folder_ / "output.json");
  auto result = compile({R"([{"trigger":{"url-filter":"x"},"action":{"type":"block"}}])"});
  ASSERT_FALSE(result);
  EXPECT_FALSE(result.error().domain().empty());
  EXPECT_TRUE(fs::is_directory(folder_ / "output.json"));
  EXPECT_TRUE(strayFiles().empty());
}

TEST_F(RuleCompilerTests, ReaderNeverSeesATornFileWhileCompiling) {
  const std::string small = R"([{"trigger":{"url-filter":"s"},"action":{"type":"block"}}])";
  std::string large = "[";
  for (int i = 0; i < 2000; ++i) {
    if (i) large += ",";
    large += R"({"trigger":{"url-filter":"l)" + std::to_string(i) + R"("},"action":{"type":"block"}})";
  }
  large += "]";
  auto smallURL = write("list-small.json", small);
  auto largeURL = write("list-large.json", large);
  ASSERT_TRUE(compileRuleFile({.output = output(), .lists = {{smallURL, "s", "S"}}, .whitelist = {}, .builtInRuleFile = {}}));

  std::atomic<bool> done = false;
  std::atomic<int> reads = 0, torn = 0;
  std::thread reader([&] {
    while (!done) {
      std::string seen = outputText();
      ++reads;
      if (seen != small && seen != large) ++torn;
    }
  });
  int failed = 0;
  for (int i = 0; i < 100; ++i) {
    auto list = i % 2 ? smallURL : largeURL;
    if (!compileRuleFile({.output = output(), .lists = {{list, "l", "L"}}, .whitelist = {}, .builtInRuleFile = {}})) ++failed;
  }
  done = true;
  reader.join();
  EXPECT_EQ(failed, 0);
  EXPECT_GT(reads.load(), 0);
  EXPECT_EQ(torn.load(), 0);
}

}  // namespace
}  // namespace fendrel

namespace fendrel {
namespace {

TEST_F(RuleCompilerTests, BucketsLargerThanTheirBuffersAreJoinedWhole) {
  // Each bucket holds far more than the bytes it gathers before writing, and the lists come in
  // two files: every piece must land in order, with one comma between rules.
  const std::string types[] = {"ignore-previous-rules", "css-display-none", "block"};
  std::string lists[2], expected[3];
  for (int list = 0; list < 2; ++list) {
    lists[list] = "[";
    for (int i = 0; i < 6000; ++i) {
      const int bucket = i % 3;
      std::string rule = R"({"trigger":{"url-filter":"r)" + std::to_string(list) + "-" + std::to_string(i) +
                         std::string(60, 'x') + R"("},"action":{"type":")" + types[bucket] + "\"" +
                         (bucket == 1 ? R"(,"selector":".ad"}})" : "}}");
      lists[list] += (i ? "," : "") + rule;
      expected[2 - bucket] += (expected[2 - bucket].empty() ? "" : ",") + rule;
    }
    lists[list] += "]";
  }
  auto report = compile({lists[0], lists[1]});
  ASSERT_TRUE(report);
  EXPECT_EQ(report->writtenRules, 12000u);
  EXPECT_EQ(outputText(), "[" + expected[0] + "," + expected[1] + "," + expected[2] + "]");
  EXPECT_EQ(strayFiles(), std::vector<std::string>{});
}

/// Rules of all three kept kinds, each bucket far beyond the bytes a bucket or a read of a list
/// holds at a time; `tag` tells the lists apart. `expected` gets each bucket's text, in order.
std::string largeList(const std::string& tag, int rules, std::string (&expected)[3]) {
  const std::string types[] = {"block", "css-display-none", "ignore-previous-rules"};
  std::string list = "[";
  for (int i = 0; i < rules; ++i) {
    const int bucket = i % 3;
    std::string rule = R"({"trigger":{"url-filter":")" + tag + std::to_string(i) + std::string(80, 'x') +
                       R"("},"action":{"type":")" + types[bucket] + "\"" + (bucket == 1 ? R"(,"selector":".ad"}})" : "}}");
    list += (i ? "," : "") + rule;
    expected[bucket] += (expected[bucket].empty() ? "" : ",") + rule;
  }
  return list + "]";
}

TEST_F(RuleCompilerTests, LongRulesAndLayoutAcrossReadsOfTheListAreKeptWhole) {
  // A rule longer than any single read of the list, rules laid out with whitespace, and a scalar
  // and strings with brackets and escaped quotes where reads are likely to cut them.
  const std::string huge = R"({"trigger":{"url-filter":"h"},"action":{"type":"css-display-none","selector":".)" +
                           std::string(700'000, 'k') + R"("}})";
  std::string list = "[\n", expected;
  for (int i = 0; i < 8000; ++i) {
    const std::string filter = "f" + std::to_string(i) + R"(\\[\"]{)";
    list += R"(  { "trigger" : {"url-filter": ")" + filter + R"("}, "action": {"type": "block"} },)" "\n  12345,\n";
    expected += R"({"trigger":{"url-filter":")" + filter + R"("},"action":{"type":"block"}},)";
    if (i == 3000) {
      list += huge + ",\n";
    }
  }
  list += "  \"last\"\n]\n";
  auto report = compile({list});
  ASSERT_TRUE(report);
  EXPECT_EQ(report->writtenRules, 8001u);
  expected.pop_back();
  EXPECT_EQ(outputText(), "[" + expected + "," + huge + "]");
  ASSERT_EQ(report->leftOut.size(), 1u);
  EXPECT_EQ(report->leftOut[0].byFault[static_cast<std::size_t>(RuleFault::NotAnObject)], 8001u);
}

TEST_F(RuleCompilerTests, TextThatLooksLikeTheGapBetweenRulesIsReadAsWhatItIs) {
  // Each read of a list is split where one rule ends and the next begins, guessed from the text
  // "},{"; here strings and nested values hold that text too, wherever a read happens to end.
  std::string list = "[", expected;
  for (int i = 0; i < 6000; ++i) {
    const std::string n = std::to_string(i);
    std::string rule;
    switch (i % 3) {
      case 0:
        rule = R"({"trigger":{"url-filter":"a},{x)" + n + R"(},{"},"action":{"type":"block"}})";
        break;
      case 1:
        rule = R"({"trigger":{"url-filter":"b)" + n + R"(","x":[{},{"y":"},{"},{}]},"action":{"type":"block"}})";
        break;
      default:
        rule = R"({"trigger":{"url-filter":"c)" + n + R"("},"action":{"type":"css-display-none","selector":"}, {"}})";
        break;
    }
    list += (i ? "," : "") + rule;
    if (i % 3 != 2) expected += (expected.empty() ? "" : ",") + rule;
  }
  list += "]";
  std::string css;
  for (int i = 2; i < 6000; i += 3) {
    css += R"(,{"trigger":{"url-filter":"c)" + std::to_string(i) +
           R"("},"action":{"type":"css-display-none","selector":"}, {"}})";
  }
  auto report = compile({list});
  ASSERT_TRUE(report);
  EXPECT_EQ(report->writtenRules, 6000u);
  EXPECT_EQ(outputText(), "[" + expected + css + "]");
}

TEST_F(RuleCompilerTests, CompilationsAtOnceAndOneAfterALongRuleKeepEveryRule) {
  // The process keeps one reader and the bucket buffers between compilations: two compilations
  // at once must not share them, and the one after a rule that grew the window must read right.
  std::string expected[2][3];
  const std::string lists[2] = {largeList("p", 3000, expected[0]), largeList("q", 3000, expected[1])};
  const auto joined = [](const std::string (&buckets)[3]) {
    return "[" + buckets[0] + "," + buckets[1] + "," + buckets[2] + "]";
  };
  testing_support::TemporaryFolder other;
  std::ofstream(other.file("list.json"), std::ios::binary) << lists[1];
  const auto otherOutput = foundation::URL::fileURL(other.file("output.json"));
  for (int round = 0; round < 3; ++round) {
    foundation::Result<RuleCompilationReport> second = RuleCompilationReport{};
    std::thread alongside([&] {
      second = compileRuleFile({.output = otherOutput,
                                .lists = {{foundation::URL::fileURL(other.file("list.json")), "q", "Q"}},
                                .whitelist = RuleWhitelist::make({}),
                                .builtInRuleFile = std::nullopt});
    });
    auto first = compile({lists[0]});
    alongside.join();
    ASSERT_TRUE(first);
    ASSERT_TRUE(second);
    EXPECT_EQ(outputText(), joined(expected[0]));
    EXPECT_EQ(readText(other.file("output.json")), joined(expected[1]));
  }
  const std::string huge = R"({"trigger":{"url-filter":"h"},"action":{"type":"css-display-none","selector":".)" +
                           std::string(400'000, 'k') + R"("}})";
  ASSERT_TRUE(compile({"[" + huge + "]"}));
  EXPECT_EQ(outputText(), "[" + huge + "]");
  ASSERT_TRUE(compile({lists[0]}));
  EXPECT_EQ(outputText(), joined(expected[0]));
}

TEST_F(RuleCompilerTests, ListFoundMalformedLateLeavesNoneOfItsRules) {
  // The fault comes after every bucket has written part of the list to its file: all of it is
  // taken back, and the lists before and after it are kept as they are.
  std::string expected[3];
  const std::string before = largeList("a", 9000, expected);
  std::string ignored[3];
  const std::string malformed = largeList("b", 9000, ignored);
  const std::string after = largeList("c", 30, expected);
  const std::string body = malformed.substr(0, malformed.size() - 1);
  const std::pair<const char*, std::string> cases[] = {
      {"no closing bracket", body},
      {"text after the array", malformed + " x"},
      {"a second array", malformed + "[]"},
      {"no comma between rules", body + R"( {"trigger":{"url-filter":"z"},"action":{"type":"block"}}])"},
      {"a comma before the end", body + ",]"},
      {"a rule cut short", body + R"(,{"trigger":{"url-filter":"z"},"action":{"type":"block"})"},
      {"a string without its end", body + R"(,{"trigger":{"url-filter":"z})"},
      {"a bad value", body + R"(,{"trigger":{"url-filter":"z"},"action":{"type":block}}])"},
      {"a bad number", body + ",01]"},
  };
  for (const auto& [name, list] : cases) {
    SCOPED_TRACE(name);
    auto report = compile({before, list, after});
    ASSERT_TRUE(report);
    ASSERT_EQ(report->kept.size(), 3u);
    EXPECT_EQ(report->kept[0].count, 9000u);
    EXPECT_EQ(report->kept[1].count, 0u);
    EXPECT_EQ(report->kept[2].count, 30u);
    EXPECT_TRUE(report->leftOut.empty());
    EXPECT_EQ(outputText(), "[" + expected[0] + "," + expected[1] + "," + expected[2] + "]");
    EXPECT_EQ(strayFiles(), std::vector<std::string>{});
  }
}

}  // namespace
}  // namespace fendrel
