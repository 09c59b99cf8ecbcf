// The report writer on events made up in the test: the sections whose content comes from the
// recorder's settings and scope, and the recrash report. Real crashes are in CrashPathTests.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "dozidi-cocoa/Sources/DozidiCrash/Recording/DozidiCrashReport.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/DozidiCrashScopeMirror.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Monitors/DozidiCrashMonitor.h"
#include "StrictJson.h"
#include "platform/kernel/BinaryImages.h"
#include "testing/TemporaryFolder.h"

namespace {

std::string readFile(const std::string& path) {
  std::ifstream file(path);
  return {std::istreambuf_iterator<char>(file), {}};
}

int g_callbackCalls = 0;

void addCallbackKey(const DozidiCrashReportWriter* writer) {
  ++g_callbackCalls;
  writer->addStringElement(writer, "from_callback", "yes");
}

class CrashReportWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::memset(&event_, 0, sizeof(event_));
    event_.eventID = "0F0F0F0F-0000-1111-2222-333344445555";
    event_.crashType = DozidiCrashMonitorTypeSignal;
    event_.signal.signum = SIGSEGV;
    event_.signal.sigcode = SEGV_MAPERR;
    g_callbackCalls = 0;
  }
  void TearDown() override {
    dozidicrashreport_setUserInfoJSON(nullptr);
    dozidicrashreport_setUserSectionWriteCallback(nullptr);
    crashscopemirror_clear();
  }

  // Writes the standard report of the event and parses it strictly.
  Json write() {
    const std::string path = folder_.file("report.json");
    std::filesystem::remove(path);
    dozidicrashreport_writeStandardReport(&event_, path.c_str());
    return parseStrictly(readFile(path));
  }

  testing_support::TemporaryFolder folder_{"crash-writer"};
  DozidiCrash_MonitorContext event_;
};

TEST_F(CrashReportWriterTest, UserSectionJoinsUserInfoAndCallbackKeys) {
  struct Case {
    const char* userInfo;
    bool withCallback;
    const char* expectedUser;
  };
  const Case cases[] = {
      {nullptr, false, R"({})"},
      {R"({"a":1})", false, R"({"a":1})"},
      {R"({"a":1})", true, R"({"a":1,"from_callback":"yes"})"},
      {nullptr, true, R"({"from_callback":"yes"})"},
  };
  for (const Case& c : cases) {
    dozidicrashreport_setUserInfoJSON(c.userInfo);
    dozidicrashreport_setUserSectionWriteCallback(c.withCallback ? addCallbackKey : nullptr);
    const Json report = write();
    EXPECT_EQ(report["user"], parseStrictly(c.expectedUser)) << (c.userInfo ? c.userInfo : "(none)");
    EXPECT_TRUE(report.contains("debug"));
  }
}

TEST_F(CrashReportWriterTest, UserInfoThatIsNotJSONStillGivesAValidReport) {
  dozidicrashreport_setUserInfoJSON("{\"a\": tru");
  dozidicrashreport_setUserSectionWriteCallback(addCallbackKey);
  const Json report = write();
  ASSERT_TRUE(report.is_object());
  const Json& user = report["user"];
  EXPECT_EQ(user["from_callback"], "yes") << user;
  EXPECT_TRUE(user["error"].get<std::string>().starts_with("Invalid JSON data: ")) << user;
  EXPECT_EQ(user["json_data"], "{\"a\": tru");
  EXPECT_TRUE(report.contains("debug"));
}

TEST_F(CrashReportWriterTest, SnapshotNeverCallsTheUserCallback) {
  dozidicrashreport_setUserSectionWriteCallback(addCallbackKey);
  event_.currentSnapshotUserReported = true;
  const Json report = write();
  EXPECT_EQ(g_callbackCalls, 0);
  EXPECT_EQ(report["user"], parseStrictly("{}"));
}

TEST_F(CrashReportWriterTest, ScopeMembersAndBreadcrumbsOldestFirst) {
  crashscopemirror_setTags(R"({"t":"v"})");
  crashscopemirror_setLevel(R"("fatal")");
  crashscopemirror_setExtras("not json");
  crashscopemirror_configureBreadcrumbs(2);
  crashscopemirror_addBreadcrumb(R"({"n":1})");
  crashscopemirror_addBreadcrumb(R"({"n":2})");
  crashscopemirror_addBreadcrumb(R"({"n":3})");
  const Json scope = write()["dozidi_sdk_scope"];
  EXPECT_EQ(scope["tags"], parseStrictly(R"({"t":"v"})"));
  EXPECT_EQ(scope["level"], "fatal");
  EXPECT_EQ(scope["extra"]["json_data"], "not json");
  EXPECT_TRUE(scope["extra"]["error"].get<std::string>().starts_with("Invalid JSON data: "));
  EXPECT_EQ(scope["breadcrumbs"], parseStrictly(R"([{"n":2},{"n":3}])"));
  EXPECT_FALSE(scope.contains("user"));
}

TEST_F(CrashReportWriterTest, ErrorObjectByCrashType) {
  struct Case {
    std::uint32_t crashType;
    const char* type;  // null: no "type" key
  };
  const Case cases[] = {
      {DozidiCrashMonitorTypeSignal, "signal"},
      {DozidiCrashMonitorTypeCPPException, "cpp_exception"},
      {DozidiCrashMonitorTypeNSException, "nsexception"},
      {DozidiCrashMonitorTypeUserReported, "user"},
      {DozidiCrashMonitorTypeSystem, nullptr},
  };
  event_.CPPException.name = "St13runtime_error";
  event_.NSException.name = "Name";
  event_.NSException.userInfo = "{}";
  event_.userException.name = "UserName";
  event_.mach.type = 3;
  for (const Case& c : cases) {
    event_.crashType = c.crashType;
    const Json error = write()["crash"]["error"];
    if (c.type != nullptr) {
      EXPECT_EQ(error["type"], c.type);
    } else {
      EXPECT_FALSE(error.contains("type"));
    }
    EXPECT_EQ(error["address"], 0);
    EXPECT_EQ(error["mach"]["exception_name"], "EXC_ARITHMETIC");
    EXPECT_EQ(error["signal"]["code_name"], "SEGV_MAPERR");
  }
}

TEST_F(CrashReportWriterTest, RecrashReportEmbedsTheCutShortReport) {
  const std::string path = folder_.file("r-report-0000000000000001.json");
  {
    std::ofstream partial(path);
    partial << R"({"report": {"type": "standard"}, "crash": {"error": {"address": 0)";
  }
  dozidicrashreport_writeRecrashReport(&event_, path.c_str());
  const Json report = parseStrictly(readFile(path));
  EXPECT_EQ(report["report"]["type"], "minimal");
  EXPECT_EQ(report["recrash_report"]["report"]["type"], "standard");
  EXPECT_EQ(report["crash"]["error"]["type"], "signal");
  EXPECT_FALSE(std::filesystem::exists(folder_.file("r-report-0000000000000001.old")));
}

// The text of the binary images is made beforehand from the images loaded then. A report written
// after an image came or went must not copy it, and a text made again must read as a report
// written image by image does.
TEST_F(CrashReportWriterTest, PreparedImagesTextFollowsImagesThatComeAndGo) {
  const auto imagesText = [&] {
    const std::string path = folder_.file("report.json");
    std::filesystem::remove(path);
    dozidicrashreport_writeStandardReport(&event_, path.c_str());
    const std::string text = readFile(path);
    const std::size_t start = text.find("\"binary_images\"");
    const std::size_t end = text.find("\"process\"", start);
    EXPECT_NE(end, std::string::npos) << text;
    return text.substr(start, end - start);
  };
  const auto names = [](const std::string& text) { return parseStrictly("{" + text + "\"end\": 0}")["binary_images"]; };
  kernel::prepareSymbolTables();
  dozidicrashreport_prepareBinaryImages();
  const std::string prepared = imagesText();

  void* fixture = dlopen(IMAGE_FIXTURE, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(fixture, nullptr) << dlerror();
  const std::string walkedWithFixture = imagesText();
  EXPECT_EQ(names(walkedWithFixture).size(), names(prepared).size() + 1);
  EXPECT_NE(walkedWithFixture.find(IMAGE_FIXTURE), std::string::npos);
  kernel::prepareSymbolTables();
  dozidicrashreport_prepareBinaryImages();
  EXPECT_EQ(imagesText(), walkedWithFixture);

  dlclose(fixture);
  const std::string walkedWithout = imagesText();
  EXPECT_EQ(walkedWithout.find(IMAGE_FIXTURE), std::string::npos);
  EXPECT_EQ(walkedWithout, prepared);
}

}  // namespace
