// The rule checker held to WebKit's own content-blocker compiler: every rule the checker keeps
// must compile, every rule it leaves out must be one WebKit refuses.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "app/core/RuleCompiler/RuleChecker.h"
#include "app/core/RuleCompiler/RuleCompiler.h"
#include "app/core/tests/RuleShapes.h"
#include "app/core/tests/WebKitRuleVerdict.h"
#include "platform/foundation/JSONSerialization.h"
#include "testing/ProgramRun.h"

namespace fendrel {
namespace {

namespace fs = std::filesystem;
using testing_webkit::Verdict;

testing_webkit::WebKitRuleVerdicts& webkit() {
  // Destroyed at exit, which ends the child program and removes its folder.
  static testing_webkit::WebKitRuleVerdicts verdicts(FENDREL_WEBKIT_VERDICT);
  return verdicts;
}

/// Compares the checker and WebKit on one rule given as JSON text; "" when they agree, else a line
/// that shows the difference.
std::string disagreement(const foundation::Value& rule) {
  auto compact = foundation::JSONSerialization::dataWithJSONObject(rule);
  if (!compact) return "";
  const auto checker = testing_webkit::checkerVerdict(rule);
  testing_webkit::Details details;
  const Verdict verdict = webkit().judge("[" + *compact + "]", &details);
  const bool css = rule["action"]["type"].string() && *rule["action"]["type"].string() == "css-display-none";
  if (testing_webkit::sameVerdict(checker, css, verdict, details.seconds)) return "";
  const auto fault = checkRule(rule);
  return compact->substr(0, 200) + "\n    checker: " + (fault ? std::string(describe(*fault)) : "keeps") +
         "\n    WebKit: " + testing_webkit::name(verdict) + (details.message.empty() ? "" : " (" + details.message + ")") +
         (verdict == Verdict::Accepted ? " in " + std::to_string(details.seconds) + " s" : "");
}

std::string disagreement(const std::string& ruleText) {
  auto rule = foundation::JSONSerialization::JSONObjectWithData(ruleText);
  if (!rule) return "";  // not JSON: never reaches either side
  return disagreement(*rule);
}

TEST(RuleCheckerTests, AgreesWithWebKitOnTheShapesOfRealLists) {
  struct Case {
    const char* rule;
    std::optional<RuleFault> fault;
  };
  const std::optional<RuleFault> keeps;
  const Case cases[] = {
      {R"({"trigger":{"url-filter":"^https?://([^/]+\\.)?ads\\.example\\.com[/:]"},"action":{"type":"block"}})", keeps},
      {R"({"trigger":{"url-filter":".*","if-domain":["*example.org"]},"action":{"type":"ignore-previous-rules"}})", keeps},
      {R"({"trigger":{"url-filter":"x","resource-type":["image","script","csp-report"],"load-type":["third-party"]},"action":{"type":"block"}})", keeps},
      {R"({"trigger":{"url-filter":"x","unless-top-url":["^https://a\\.org/"]},"action":{"type":"block"}})", keeps},
      {R"({"trigger":{"url-filter":"x","request-method":"POST"},"action":{"type":"block"}})", keeps},
      {R"({"trigger":{"url-filter":"a{0,1}b{1,}c{0,}d+?(e)\\1$"},"action":{"type":"block"}})", keeps},
      {R"({"trigger":{"url-filter":"x"},"action":{"type":"css-display-none","selector":"#ad > .x"}})", keeps},
      {R"({"trigger":{"url-filter":"\\x41[\\0a]\\0"},"action":{"type":"block"}})", keeps},
      {R"({"action":{"type":"block"}})", RuleFault::NoTrigger},
      {R"({"trigger":{"url-filter":"x"},"action":5})", RuleFault::NoAction},
      {R"({"trigger":{"url-filter":"x"},"action":{}})", RuleFault::NoActionType},
      {R"({"trigger":{"url-filter":""},"action":{"type":"block"}})", RuleFault::NoURLFilter},
      {R"({"trigger":{"url-filter":"caf\u00e9"},"action":{"type":"block"}})", RuleFault::NonASCIIURLFilter},
      {R"({"trigger":{"url-filter":"a|b"},"action":{"type":"block"}})", RuleFault::UnsupportedURLFilter},
      {R"({"trigger":{"url-filter":"\\d+"},"action":{"type":"block"}})", RuleFault::UnsupportedURLFilter},
      {R"({"trigger":{"url-filter":"a{2}"},"action":{"type":"block"}})", RuleFault::UnsupportedURLFilter},
      {R"({"trigger":{"url-filter":"a$b"},"action":{"type":"block"}})", RuleFault::UnsupportedURLFilter},
      {R"x({"trigger":{"url-filter":"(^a)"},"action":{"type":"block"}})x", RuleFault::UnsupportedURLFilter},
      {R"({"trigger":{"url-filter":"\\0a"},"action":{"type":"block"}})", RuleFault::UnsupportedURLFilter},
      {R"({"trigger":{"url-filter":"\\x80"},"action":{"type":"block"}})", RuleFault::UnsupportedURLFilter},
      // WebKit's compiler aborts on this one instead of refusing it.
      {R"({"trigger":{"url-filter":"[\\x00-\\x80]"},"action":{"type":"block"}})", RuleFault::UnsupportedURLFilter},
      {R"({"trigger":{"url-filter":"(?=a)b"},"action":{"type":"block"}})", RuleFault::UnsupportedURLFilter},
      {R"({"trigger":{"url-filter":"(?<n>a)\\k<n>"},"action":{"type":"block"}})", RuleFault::UnsupportedURLFilter},
      {R"({"trigger":{"url-filter":"*a"},"action":{"type":"block"}})", RuleFault::UnsupportedURLFilter},
      {R"({"trigger":{"url-filter":"x","if-domain":["Example.org"]},"action":{"type":"block"}})", RuleFault::DomainNotLowerCaseASCII},
      {R"({"trigger":{"url-filter":"x","unless-domain":["caf\u00e9.fr"]},"action":{"type":"block"}})", RuleFault::DomainNotLowerCaseASCII},
      {R"({"trigger":{"url-filter":"x","if-domain":[""]},"action":{"type":"block"}})", RuleFault::BadDomainList},
      {R"({"trigger":{"url-filter":"x","if-domain":[]},"action":{"type":"block"}})", RuleFault::BadDomainList},
      {R"({"trigger":{"url-filter":"x","if-domain":"a.org"},"action":{"type":"block"}})", RuleFault::BadDomainList},
      {R"({"trigger":{"url-filter":"x","if-top-url":["*a"]},"action":{"type":"block"}})", RuleFault::BadURLList},
      {R"({"trigger":{"url-filter":"x","if-domain":["a.org"],"unless-domain":["b.org"]},"action":{"type":"block"}})", RuleFault::SeveralConditions},
      {R"({"trigger":{"url-filter":"x","unless-domain":["a.org"],"if-frame-url":["b"]},"action":{"type":"block"}})", RuleFault::SeveralConditions},
      {R"({"trigger":{"url-filter":"x","resource-type":["Image"]},"action":{"type":"block"}})", RuleFault::BadResourceType},
      {R"({"trigger":{"url-filter":"x","resource-type":"image"},"action":{"type":"block"}})", RuleFault::BadResourceType},
      {R"({"trigger":{"url-filter":"x","load-type":["3p"]},"action":{"type":"block"}})", RuleFault::BadLoadType},
      {R"({"trigger":{"url-filter":"x","load-context":["top"]},"action":{"type":"block"}})", RuleFault::BadLoadContext},
      {R"({"trigger":{"url-filter":"x","request-method":["get"]},"action":{"type":"block"}})", RuleFault::BadRequestMethod},
      {R"({"trigger":{"url-filter":"x"},"action":{"type":"css-display-none"}})", RuleFault::NoSelector},
      {R"({"trigger":{"url-filter":"x"},"action":{"type":"css-display-none","selector":7}})", RuleFault::NoSelector},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rule);
    auto rule = foundation::JSONSerialization::JSONObjectWithData(std::string_view(c.rule));
    ASSERT_TRUE(rule);
    EXPECT_EQ(checkRule(*rule), c.fault) << (c.fault ? describe(*c.fault) : "keeps");
    EXPECT_EQ(disagreement(*rule), "");
  }
}

TEST(RuleCheckerTests, AgreesWithWebKitOnGeneratedRules) {
  std::mt19937 random(20261210);
  rule_shapes::Choose choose = [&](std::size_t count) { return std::uniform_int_distribution<std::size_t>(0, count - 1)(random); };
  std::vector<std::string> differences;
  int kept = 0;
  for (int i = 0; i < 4000; ++i) {
    std::string rule = rule_shapes::rule(choose);
    auto parsed = foundation::JSONSerialization::JSONObjectWithData(rule);
    ASSERT_TRUE(parsed) << rule;
    if (!checkRule(*parsed)) ++kept;
    std::string difference = disagreement(rule);
    if (!difference.empty() && differences.size() < 15) differences.push_back(difference);
  }
  std::string all;
  for (const auto& d : differences) all += "\n  " + d;
  EXPECT_TRUE(differences.empty()) << "checker and WebKit disagree on:" << all;
  // The shapes must exercise both verdicts for the comparison to mean anything.
  EXPECT_GT(kept, 400);
  EXPECT_LT(kept, 3600);
  std::cerr << "kept " << kept << " of 4000\n";
}

TEST(RuleCheckerTests, LeavesOutFiltersThatWebKitWouldCompileTooSlowly) {
  // Shapes that make WebKit's compiler slow or hungry, each at the most the checker keeps and one
  // step beyond. Every kept one must compile within the limit below (a few seconds at the limit
  // on an idle machine); every one left out must not compile quickly (see sameVerdict).
  const auto dots = [](std::size_t n) { return std::string(n, '.'); };
  const auto repeated = [](std::string_view text, std::size_t n) {
    std::string out;
    for (std::size_t i = 0; i < n; ++i) out += text;
    return out;
  };
  struct Case {
    std::string filter;
    bool kept;
  };
  // Text that never repeats itself, as in a long path: WebKit takes filters of any length.
  std::string text;
  for (std::uint32_t state = 1; text.size() < 20000;) {
    state = state * 1103515245u + 12345u;
    text += "abcdefghijklmnopqrstuvwxyz0123456789/-_"[(state >> 16) % 39];
  }
  const Case cases[] = {
      // The cost grows with the square of a filter that overlaps itself wherever it is.
      {std::string(2048, 'a'), true},
      {std::string(4094, 'a'), true},
      {std::string(4095, 'a'), false},
      {repeated("ab", 2894), true},  // overlaps itself at every other character
      {repeated("ab", 2896), false},
      {"^" + std::string(8000, 'a'), true},  // anchored: no overlap
      {text, true},
      {std::string(20000, 'a'), false},
      // Where a match can start at every character, each term that matches any character doubles
      // the sets of places a URL can be at once.
      {"a" + dots(15), true},
      {"a" + dots(16), false},
      {"a" + repeated("[^/]", 16), false},  // classes count as "." does
      // A start that cannot overlap itself starts a match at most every third character.
      {"abc" + dots(21), true},
      {"abc" + dots(27), false},
      {R"((/<n.................>x)K\z00-](?<n>x))", true},  // the same inside a group
      {"a[a-z][^/][ab].[a-z][^/][ab].[a-z][^/][ab].[a-z]", true},
      {"a" + std::string(12, 'x') + repeated(".?", 13), true},  // optional terms add few sets
      // A back-reference is one character no other term names: after "a" it is a start that
      // cannot overlap itself, after "." it is as costly as a letter.
      {R"((a)\1)" + dots(16), true},
      {R"((.)\1)" + dots(20), false},
      {"^a" + dots(40), true},       // anchored: a match starts at one place only
      {"^a+" + dots(16), true},      // ...also after a repeated first term
      {"^.*a" + dots(16), false},    // ...until a repetition of any character lets it start anywhere again
      // Anchored, so that most first characters end every match: the state of no place.
      {R"(^https?://([^/]+\.)?ads\.-cJ?-?-]//<n..]//<n.......-cJ..]//<n..............-cJ?-?-]//<n..]//<n.......)"
       R"(-cJ..]//<n...)" + std::string(79, 'L') + R"(.-cJ?-?-example\.com[/:])", true},
      {"a" + dots(2047), false},     // counting stops long before the end
      {"a.*.*.*.*.*.*.*.*.*.*.*.*.*.*.*b", true},  // terms with "*" cost nothing here
      {"(((((((((((a*)*)*)*)*)*)*)*)*)*)*)*b", true},  // nested repeats
      {std::string(300, '(') + "a" + repeated(")*", 300), true},
      {repeated("(a.)*", 400), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.filter.substr(0, 80));
    foundation::Dictionary trigger;
    trigger.set("url-filter", c.filter);
    foundation::Dictionary action;
    action.set("type", "block");
    foundation::Value rule(foundation::Dictionary{{"trigger", std::move(trigger)}, {"action", std::move(action)}});
    const auto fault = checkRule(rule);
    EXPECT_EQ(!fault, c.kept);
    if (fault) {
      EXPECT_EQ(*fault, RuleFault::CostlyURLFilter);
      EXPECT_EQ(disagreement(rule), "");
      continue;
    }
    auto file = foundation::JSONSerialization::dataWithJSONObject(rule);
    ASSERT_TRUE(file);
    testing_webkit::Details details;
    EXPECT_EQ(webkit().judge("[" + *file + "]", &details, 60.0), Verdict::Accepted) << details.message;
  }
  // Counting the matcher of a filter other than text costs the square of its length, so the
  // checker stops at a length no real filter reaches, although WebKit may compile it quickly.
  EXPECT_EQ(judgeURLFilter(text.substr(0, 8192) + "."), URLFilterVerdict::TooCostly);
  // As a condition of the top or frame URL, such a filter makes the condition list a bad one.
  auto rule = foundation::JSONSerialization::JSONObjectWithData(
      R"({"trigger":{"url-filter":"x","if-top-url":["a................"]},"action":{"type":"block"}})");
  ASSERT_TRUE(rule);
  EXPECT_EQ(checkRule(*rule), RuleFault::BadURLList);
}

TEST(RuleCheckerTests, RefusalForCostDiffersFromWebKitOnlyOnAQuickCompile) {
  using testing_webkit::CheckerVerdict;
  const double quick = testing_webkit::kQuickCompileSeconds / 2, slow = testing_webkit::kQuickCompileSeconds * 4;
  const struct {
    const char* name;
    CheckerVerdict checker;
    Verdict verdict;
    double seconds;
    bool same;
  } cases[] = {
      {"kept, compiled", CheckerVerdict::Kept, Verdict::Accepted, slow, true},
      {"kept, refused", CheckerVerdict::Kept, Verdict::Refused, 0, false},
      {"kept, crashed", CheckerVerdict::Kept, Verdict::Crashed, 0, false},
      {"refused, compiled slowly", CheckerVerdict::Refused, Verdict::Accepted, slow, false},
      {"refused, crashed", CheckerVerdict::Refused, Verdict::Crashed, 0, true},
      {"costly, compiled quickly", CheckerVerdict::RefusedForCost, Verdict::Accepted, quick, false},
      {"costly, compiled slowly", CheckerVerdict::RefusedForCost, Verdict::Accepted, slow, true},
      {"costly, refused", CheckerVerdict::RefusedForCost, Verdict::Refused, 0, true},
      {"costly, not finished", CheckerVerdict::RefusedForCost, Verdict::TimedOut, 0, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(testing_webkit::sameVerdict(c.checker, false, c.verdict, c.seconds), c.same);
  }
  // A costly URL in a condition refuses the rule for cost as well; an unsupported one does not.
  const struct {
    const char* rule;
    CheckerVerdict checker;
  } rules[] = {
      {R"({"trigger":{"url-filter":"a................"},"action":{"type":"block"}})", CheckerVerdict::RefusedForCost},
      {R"({"trigger":{"url-filter":"x","if-top-url":["b","a................"]},"action":{"type":"block"}})",
       CheckerVerdict::RefusedForCost},
      {R"({"trigger":{"url-filter":"x","if-frame-url":["a|b"]},"action":{"type":"block"}})", CheckerVerdict::Refused},
      {R"({"trigger":{"url-filter":"x"},"action":{"type":"block"}})", CheckerVerdict::Kept},
  };
  for (const auto& r : rules) {
    SCOPED_TRACE(r.rule);
    auto rule = foundation::JSONSerialization::JSONObjectWithData(std::string_view(r.rule));
    ASSERT_TRUE(rule);
    EXPECT_EQ(testing_webkit::checkerVerdict(*rule), r.checker);
  }
  // The time WebKit reports is its own: a file it compiles comes back with some.
  testing_webkit::Details details;
  EXPECT_EQ(webkit().judge(R"([{"trigger":{"url-filter":"a"},"action":{"type":"block"}}])", &details), Verdict::Accepted);
  EXPECT_GT(details.seconds, 0);
}

/// The regular files under `folder`, as paths relative to it.
std::vector<std::string> filesUnder(const std::string& folder) {
  std::vector<std::string> files;
  std::error_code ignored;
  for (const auto& entry : fs::recursive_directory_iterator(folder, ignored)) {
    if (!entry.is_directory()) files.push_back(fs::relative(entry.path(), folder).string());
  }
  return files;
}

TEST(RuleCheckerTests, EveryWebKitCheckLeavesNoFileBehind) {
  std::string temporary = (fs::temp_directory_path() / "fendrel-tmpdir-XXXXXX").string();
  ASSERT_NE(::mkdtemp(temporary.data()), nullptr);
  const char* previous = std::getenv("TMPDIR");
  const std::string previousValue = previous ? previous : "";
  ::setenv("TMPDIR", temporary.c_str(), 1);
  {
    testing_webkit::WebKitRuleVerdicts verdicts(FENDREL_WEBKIT_VERDICT);
    const struct {
      const char* file;
      Verdict verdict;
      double limitSeconds;
    } checks[] = {
        {R"([{"trigger":{"url-filter":"a"},"action":{"type":"block"}}])", Verdict::Accepted, 60},
        {R"([{"trigger":{"url-filter":"a|b"},"action":{"type":"block"}}])", Verdict::Refused, 60},
        // Stopped half-way: WebKit's work on this filter grows exponentially.
        {R"([{"trigger":{"url-filter":"a................."},"action":{"type":"block"}}])", Verdict::TimedOut, 0.5},
    };
    for (const auto& check : checks) {
      SCOPED_TRACE(check.file);
      EXPECT_EQ(verdicts.judge(check.file, nullptr, check.limitSeconds), check.verdict);
      EXPECT_EQ(filesUnder(temporary), std::vector<std::string>{});
    }
  }
  EXPECT_TRUE(fs::is_empty(temporary));
  if (previous) {
    ::setenv("TMPDIR", previousValue.c_str(), 1);
  } else {
    ::unsetenv("TMPDIR");
  }
  fs::remove_all(temporary);
}

TEST(RuleCheckerTests, SeventyThousandRulesWithAWhitelistedSiteCompileInWebKit) {
  std::string folder = (fs::temp_directory_path() / "fendrel-rules70k-XXXXXX").string();
  ASSERT_NE(::mkdtemp(folder.data()), nullptr);
  {
    std::ofstream list(folder + "/list.json", std::ios::binary);
    list << "[";
    for (int i = 0; i < 70000; ++i) {
      list << (i ? "," : "") << R"({"trigger":{"url-filter":"^https?://([^/]+\\.)?ads)" << i
           << R"(\\.example\\.net[/:]"},"action":{"type":"block"}})";
    }
    list << "]";
  }
  auto output = foundation::URL::fileURL(folder + "/output.json");
  auto report = compileRuleFile({.output = output,
                                 .lists = {{foundation::URL::fileURL(folder + "/list.json"), "l", "List"}},
                                 .whitelist = RuleWhitelist::make({"Example.org"}),
                                 .builtInRuleFile = std::nullopt});
  ASSERT_TRUE(report);
  EXPECT_EQ(report->writtenRules, 70001u);
  EXPECT_TRUE(report->leftOut.empty());
  std::string text = testing_support::readText(folder + "/output.json");
  const std::string exception =
      R"({"trigger":{"url-filter":".*","if-domain":["example.org"]},"action":{"type":"ignore-previous-rules"}}])";
  ASSERT_GE(text.size(), exception.size());
  EXPECT_EQ(text.substr(text.size() - exception.size()), exception);
  testing_webkit::Details details;
  // A big file: WebKit takes seconds for it, more in a sanitizer build on a busy machine.
  EXPECT_EQ(webkit().judge(text, &details, 120.0), Verdict::Accepted) << details.message;
  fs::remove_all(folder);
}

}  // namespace
}  // namespace fendrel
