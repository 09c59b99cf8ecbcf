#include <gtest/gtest.h>

#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "AllocationCounter.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/DozidiCrashReportFixer.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/DozidiCrashReportStore.h"

namespace fs = std::filesystem;

namespace {

class CrashReportStoreTests : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("crash-store-" + std::to_string(::getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    reports_ = (dir_ / "Reports").string();
    fs::create_directories(reports_);
    dozidicrashstore_setMaxReportCount(5);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string reportPath(std::int64_t id) const {
    char name[64];
    std::snprintf(name, sizeof name, "/App-report-%016" PRIx64 ".json", static_cast<std::uint64_t>(id));
    return reports_ + name;
  }
  void store(std::int64_t id, const std::string& text = "{}") const { std::ofstream(reportPath(id)) << text; }
  std::vector<std::int64_t> ids() const {
    std::vector<std::int64_t> found(100);
    found.resize(static_cast<std::size_t>(dozidicrashstore_getReportIDs(found.data(), 100)));
    return found;
  }
  static std::int64_t idOfPath(const std::string& path) {
    return static_cast<std::int64_t>(std::stoull(path.substr(path.rfind('-') + 1, 16), nullptr, 16));
  }

  fs::path dir_;
  std::string reports_;
};

TEST_F(CrashReportStoreTests, InitialisationPrunesToTheNewestReportsWithTheirAttachments) {
  for (std::int64_t id = 1; id <= 7; ++id) store(id);
  fs::create_directories(reports_ + "/App-report-0000000000000001-attachments");
  fs::create_directories(reports_ + "/App-report-0000000000000009.json");  // a directory, not a report
  store(0);                                                                 // ID 0 is no report
  std::ofstream(reports_ + "/Other-report-0000000000000008.json") << "{}";
  std::ofstream(reports_ + "/notes.txt") << "x";

  dozidicrashstore_initialize("App", reports_.c_str());
  EXPECT_EQ(ids(), (std::vector<std::int64_t>{3, 4, 5, 6, 7}));
  EXPECT_EQ(dozidicrashstore_getReportCount(), 5);
  EXPECT_FALSE(fs::exists(reports_ + "/App-report-0000000000000001-attachments"));
  EXPECT_TRUE(fs::exists(reports_ + "/notes.txt"));

  std::int64_t two[2];
  EXPECT_EQ(dozidicrashstore_getReportIDs(two, 2), 2);
  EXPECT_EQ(two[1], 4);
}

TEST_F(CrashReportStoreTests, NewPathsAreConsecutiveAndNeverMeetAStoredReport) {
  // A stored report far in the future (another clock, another seed) must not be overwritten.
  const std::int64_t future = INT64_C(0x7000000000000000);
  store(future);
  dozidicrashstore_initialize("App", reports_.c_str());
  char first[kDozidiCrashStorePathSize];
  char second[kDozidiCrashStorePathSize];
  allocation_counter::start();  // the next path is taken in the crash handler
  dozidicrashstore_getNextCrashReportPath(first);
  dozidicrashstore_getNextCrashReportPath(second);
  EXPECT_EQ(allocation_counter::stop(), 0u);
  const std::regex shape(std::regex_replace(reports_, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)") +
                         "/App-report-[0-9a-f]{16}\\.json");
  EXPECT_TRUE(std::regex_match(first, shape)) << first;
  EXPECT_TRUE(std::regex_match(second, shape)) << second;
  EXPECT_GT(idOfPath(first), future);
  EXPECT_EQ(idOfPath(second), idOfPath(first) + 1);

  // A file that appeared under the next ID (another process) is skipped, not reused.
  store(idOfPath(second) + 1);
  char third[kDozidiCrashStorePathSize];
  dozidicrashstore_getNextCrashReportPath(third);
  EXPECT_EQ(idOfPath(third), idOfPath(second) + 2);

  // A path that would be cut is never handed out: a cut name could be another file's.
  const std::string deep = reports_ + "/" + std::string(470, 'd');
  dozidicrashstore_initialize("App", deep.c_str());
  dozidicrashstore_getNextCrashReportPath(third);
  EXPECT_STREQ(third, "");
}

TEST_F(CrashReportStoreTests, ReadDeleteAndAttachments) {
  dozidicrashstore_initialize("App", reports_.c_str());
  std::string big(2'000'001, 'x');
  big[0] = 'F';
  store(10, big);
  const auto read = dozidicrashstore_readReport(10);
  ASSERT_TRUE(read);
  EXPECT_EQ(read->size(), 2'000'000u);
  EXPECT_EQ(read->front(), 'x');
  EXPECT_FALSE(dozidicrashstore_readReport(11));

  char attachments[kDozidiCrashStorePathSize];
  dozidicrashstore_getAttachmentsPathFromReport(reportPath(10).c_str(), attachments);
  EXPECT_EQ(std::string(attachments), reports_ + "/App-report-000000000000000a-attachments");
  dozidicrashstore_getAttachmentsPathFromReport("/elsewhere/x.json", attachments);
  EXPECT_EQ(std::string(attachments), reports_ + "/App-report-0000000000000000-attachments");

  dozidicrashstore_getAttachmentsPath(10, attachments);
  fs::create_directories(std::string(attachments) + "/inner");
  dozidicrashstore_deleteReportWithID(10);
  EXPECT_FALSE(fs::exists(reportPath(10)));
  EXPECT_FALSE(fs::exists(attachments));

  store(12);
  store(13);
  dozidicrashstore_deleteAllReports();
  EXPECT_EQ(dozidicrashstore_getReportCount(), 0);
  EXPECT_TRUE(fs::is_directory(reports_));
}

TEST(CrashReportFixerTests, ReportTimestampsBecomeUTCText) {
  const struct {
    const char* name;
    const char* input;
    const char* expected;  // null: fixing fails
  } cases[] = {
      {"report timestamp", R"({"report":{"timestamp":0,"id":"x"}})",
       "{\n    \"report\": {\n        \"timestamp\": \"1970-01-01T00:00:00Z\",\n        \"id\": \"x\"\n    }\n}"},
      {"recrash report timestamp",
       R"({"recrash_report":{"report":{"timestamp":1700000000}},"report":{"timestamp":86399}})",
       "{\n    \"recrash_report\": {\n        \"report\": {\n            \"timestamp\": \"2023-11-14T22:13:20Z\"\n"
       "        }\n    },\n    \"report\": {\n        \"timestamp\": \"1970-01-01T23:59:59Z\"\n    }\n}"},
      {"other timestamps stay integers", R"({"crash":{"timestamp":5},"report":{"x":{"timestamp":6}},"report2":1})",
       "{\n    \"crash\": {\n        \"timestamp\": 5\n    },\n    \"report\": {\n        \"x\": {\n"
       "            \"timestamp\": 6\n        }\n    },\n    \"report2\": 1\n}"},
      {"an integer named report stays an integer", R"({"report":5})", "{\n    \"report\": 5\n}"},
      {"undecodable", R"({"report":{"timestamp":0)", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto fixed = dozidicrashcrf_fixupCrashReport(c.input);
    if (c.expected == nullptr) {
      EXPECT_FALSE(fixed);
    } else {
      ASSERT_TRUE(fixed);
      EXPECT_EQ(*fixed, c.expected);
    }
  }
}

TEST(CrashReportFixerTests, GrowsForLongPrettyTextButRefusesDeepNesting) {
  // Compact arrays of small numbers more than double in size when pretty printed.
  std::string compact = "{\"a\":[";
  for (int i = 0; i < 5000; ++i) compact += (i ? ",1" : "1");
  compact += "]}";
  const auto fixed = dozidicrashcrf_fixupCrashReport(compact);
  ASSERT_TRUE(fixed);
  EXPECT_GT(fixed->size(), compact.size() * 3 / 2);

  const std::string deep = std::string(101, '[') + std::string(101, ']');
  EXPECT_FALSE(dozidicrashcrf_fixupCrashReport(deep));
  const std::string allowed = std::string(100, '[') + std::string(100, ']');
  EXPECT_TRUE(dozidicrashcrf_fixupCrashReport(allowed));
}

}  // namespace
