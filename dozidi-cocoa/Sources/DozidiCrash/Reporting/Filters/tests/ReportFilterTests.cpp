#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <mutex>
#include <thread>

#include "dozidi-cocoa/Sources/DozidiCrash/Reporting/Filters/DozidiCrashReportFilter.h"
#include "platform/foundation/Data.h"

namespace {

using foundation::Array;
using foundation::Dictionary;
using foundation::Value;

struct Outcome {
  std::optional<Array> reports;
  bool completed = false;
  std::optional<foundation::Error> error;
  std::thread::id thread;
};

/// Runs a filter and waits for its completion; none when it does not come within the bound.
std::optional<Outcome> run(DozidiCrashReportFilter& filter, Array reports,
                           std::chrono::milliseconds bound = std::chrono::seconds(10)) {
  auto promise = std::make_shared<std::promise<Outcome>>();
  auto future = promise->get_future();
  filter.filterReports(std::move(reports), [promise](std::optional<Array> filtered, bool completed,
                                                     std::optional<foundation::Error> error) {
    promise->set_value(Outcome{std::move(filtered), completed, std::move(error), std::this_thread::get_id()});
  });
  if (future.wait_for(bound) != std::future_status::ready) return std::nullopt;
  return future.get();
}

/// Appends its tag to every text report. It can complete on a thread of its own, fail, complete
/// without reports, or never complete.
class TagFilter final : public DozidiCrashReportFilter {
 public:
  enum class Mode { Now, OtherThread, Fail, NoReports, Never };
  TagFilter(std::string tag, Mode mode = Mode::Now) : tag_(std::move(tag)), mode_(mode) {}
  ~TagFilter() override {
    // The last owner may be a completion finishing on one of these threads.
    std::lock_guard guard(lock_);
    for (std::thread& thread : threads_) {
      if (thread.get_id() == std::this_thread::get_id()) {
        thread.detach();
      } else {
        thread.join();
      }
    }
  }

  void filterReports(Array reports, DozidiCrashReportFilterCompletion onCompletion) override {
    ++runs;
    Array tagged;
    for (const Value& report : reports) tagged.push_back(*report.string() + tag_);
    switch (mode_) {
      case Mode::Now: return onCompletion(std::move(tagged), true, std::nullopt);
      case Mode::OtherThread: {
        std::lock_guard guard(lock_);
        threads_.emplace_back([tagged, onCompletion] { onCompletion(tagged, true, std::nullopt); });
        return;
      }
      case Mode::Fail: return onCompletion(std::move(tagged), false, foundation::Error("tag", 7));
      case Mode::NoReports: return onCompletion(std::nullopt, true, std::nullopt);
      case Mode::Never: return;
    }
  }
  std::atomic<int> runs{0};

 private:
  std::string tag_;
  Mode mode_;
  std::mutex lock_;
  std::vector<std::thread> threads_;
};

using Mode = TagFilter::Mode;

std::shared_ptr<TagFilter> tag(std::string name, Mode mode = Mode::Now) {
  return std::make_shared<TagFilter>(std::move(name), mode);
}

TEST(ReportFilterTests, PipelineRunsStagesInOrderAndStopsAtTheFirstFailure) {
  auto third = tag("c");
  auto failing = DozidiCrashReportFilterPipeline::filterWithFilters({tag("a"), tag("b", Mode::Fail), third});
  auto outcome = run(*failing, Array{"r"});
  ASSERT_TRUE(outcome);
  EXPECT_FALSE(outcome->completed);
  EXPECT_EQ(outcome->reports, Array{"rab"});
  EXPECT_EQ(outcome->error->code(), 7);
  EXPECT_EQ(third->runs, 0);

  auto empty = DozidiCrashReportFilterPipeline::filterWithFilters({});
  outcome = run(*empty, Array{"r"});
  EXPECT_TRUE(outcome->completed);
  EXPECT_EQ(outcome->reports, Array{"r"});

  auto noReports = DozidiCrashReportFilterPipeline::filterWithFilters({tag("a", Mode::NoReports), tag("b")});
  outcome = run(*noReports, Array{"r"});
  EXPECT_FALSE(outcome->completed);
  EXPECT_FALSE(outcome->reports);
  EXPECT_EQ(outcome->error->localizedDescription(), "filteredReports was nil");

  auto prepended = DozidiCrashReportFilterPipeline::filterWithFilters({tag("A"), tag("B")});
  prepended->addFilter(tag("new"));
  EXPECT_EQ(run(*prepended, Array{">"})->reports, Array{">newAB"});
}

TEST(ReportFilterTests, PipelinePassesOnFromStagesCompletingOnOtherThreads) {
  auto pipeline = DozidiCrashReportFilterPipeline::filterWithFilters(
      {tag("a", Mode::OtherThread), tag("b"), tag("c", Mode::OtherThread)});
  auto outcome = run(*pipeline, Array{"1", "2"});
  ASSERT_TRUE(outcome);
  EXPECT_TRUE(outcome->completed);
  EXPECT_EQ(outcome->reports, (Array{"1abc", "2abc"}));
  EXPECT_NE(outcome->thread, std::this_thread::get_id());
}

TEST(ReportFilterTests, AStageThatNeverCompletesLeavesTheRestUnrun) {
  auto after = tag("b");
  auto pipeline = DozidiCrashReportFilterPipeline::filterWithFilters({tag("a", Mode::Never), after});
  EXPECT_FALSE(run(*pipeline, Array{"r"}, std::chrono::milliseconds(50)));
  EXPECT_EQ(after->runs, 0);
}

TEST(ReportFilterTests, CombineMapsEachFiltersOutputUnderItsKey) {
  auto combine = DozidiCrashReportFilterCombine::initWithFilters({tag("1"), tag("2", Mode::OtherThread)}, {"a", "b"});
  auto outcome = run(*combine, Array{"x", "y", "z"});
  ASSERT_TRUE(outcome);
  EXPECT_TRUE(outcome->completed);
  EXPECT_EQ(outcome->reports, (Array{Dictionary{{"a", "x1"}, {"b", "x2"}}, Dictionary{{"a", "y1"}, {"b", "y2"}},
                                     Dictionary{{"a", "z1"}, {"b", "z2"}}}));

  auto mismatch = DozidiCrashReportFilterCombine::initWithFilters({tag("1"), tag("2")}, {"a"});
  outcome = run(*mismatch, Array{"x"});
  EXPECT_FALSE(outcome->completed);
  EXPECT_EQ(outcome->error->localizedDescription(), "Key/filter mismatch (1 keys, 2 filters");

  auto failing = DozidiCrashReportFilterCombine::initWithFilters({tag("1", Mode::Fail), tag("2")}, {"a", "b"});
  EXPECT_FALSE(run(*failing, Array{"x"})->completed);
}

TEST(ReportFilterTests, CombineFromAnAlternatingListSkipsWhatIsNotAFilter) {
  using Entry = DozidiCrashReportFilterCombine::Entry;
  auto combine = DozidiCrashReportFilterCombine::filterWithFiltersAndKeys({
      Entry(Value("not a filter")),
      Entry(std::shared_ptr<DozidiCrashReportFilter>(tag("1"))),
      Entry(Value("a")),
      Entry(DozidiCrashReportFilterList{tag("2"), tag("3")}),
      Entry(Value("b")),
  });
  EXPECT_EQ(combine->keys(), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(run(*combine, Array{"x"})->reports, (Array{Dictionary{{"a", "x1"}, {"b", "x23"}}}));
}

TEST(ReportFilterTests, ValueFilters) {
  const Array reports{Dictionary{{"crash", Dictionary{{"id", 1}, {"name", "one"}}}},
                      Dictionary{{"crash", Dictionary{{"id", 2}}}}};
  struct Case {
    const char* name;
    std::shared_ptr<DozidiCrashReportFilter> filter;
    Array input;
    bool completed;
    Array expected;
    const char* error;
  } cases[] = {
      {"object for key path", DozidiCrashReportFilterObjectForKey::filterWithKey("/crash/id", false), reports, true,
       Array{1, 2}, nullptr},
      {"object for missing key allowed", DozidiCrashReportFilterObjectForKey::filterWithKey("crash/name", true),
       reports, true, Array{"one", Dictionary{}}, nullptr},
      {"object for missing key refused", DozidiCrashReportFilterObjectForKey::filterWithKey("crash/name", false),
       reports, false, Array{"one"}, "Key not found: crash/name"},
      {"concatenate",
       DozidiCrashReportFilterConcatenate::initWithSeparatorFmt(" [%@]: ", Array{"crash/id", Array{"crash/name"}}),
       reports, true, Array{"1 [crash/name]: one", "2 [crash/name]: (null)"}, nullptr},
      {"subset", DozidiCrashReportFilterSubset::initWithKeysArray(Array{"crash/id"}), reports, true,
       Array{Dictionary{{"id", 1}}, Dictionary{{"id", 2}}}, nullptr},
      {"subset of a missing path", DozidiCrashReportFilterSubset::initWithKeysArray(Array{"crash/id", "crash/name"}),
       reports, false, Array{Dictionary{{"id", 1}, {"name", "one"}}}, "Report did not have key path crash/name"},
      {"data to string", DozidiCrashReportFilterDataToString::filter(), Array{foundation::Data(std::string("é"))}, true,
       Array{"é"}, nullptr},
      {"data that is not UTF-8", DozidiCrashReportFilterDataToString::filter(),
       Array{foundation::Data(std::string("ok")), foundation::Data(std::string("\xff"))}, false, Array{"ok"},
       "Could not convert report from UTF-8"},
      {"string to data", DozidiCrashReportFilterStringToData::filter(), Array{"abc"}, true,
       Array{foundation::Data(std::string("abc"))}, nullptr},
      {"text that is not UTF-8", DozidiCrashReportFilterStringToData::filter(), Array{"\xc3"}, false, Array{},
       "Could not convert report to UTF-8"},
      {"passthrough", DozidiCrashReportFilterPassthrough::filter(), Array{1, "two"}, true, Array{1, "two"}, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto outcome = run(*c.filter, c.input);
    ASSERT_TRUE(outcome);
    EXPECT_EQ(outcome->completed, c.completed);
    EXPECT_EQ(outcome->reports, c.expected);
    if (c.error) {
      ASSERT_TRUE(outcome->error);
      EXPECT_EQ(outcome->error->localizedDescription(), c.error);
    }
  }
}

TEST(ReportFilterTests, AMissingCompletionIsAllowed) {
  auto pipeline = DozidiCrashReportFilterPipeline::filterWithFilters({tag("a")});
  pipeline->filterReports(Array{"r"}, nullptr);
}

}  // namespace
