#include <gtest/gtest.h>

#include <atomic>
#include <regex>
#include <thread>
#include <vector>

#include "LogCapture.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiMeta.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiSdkInfo.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiLog.h"

using foundation::Dictionary;

namespace {

// Runs first: the log's process-wide state is still as the process started.
TEST(ReporterLogTests, BeforeConfigurationOnlyErrorAndFatalPrint) {
  LogCapture capture;
  EXPECT_TRUE(DozidiLog::isDebug());
  EXPECT_EQ(DozidiLog::diagnosticLevel(), DozidiEventLevel::Error);
  DozidiLog::logWithMessage("dropped", DozidiEventLevel::Warning);
  DozidiLog::logWithMessage("kept", DozidiEventLevel::Error);
  DozidiLog::logWithMessage("also kept", DozidiEventLevel::Fatal);
  EXPECT_EQ(capture.lines(), (std::vector<std::string>{"[Dozidi] [error] kept", "[Dozidi] [fatal] also kept"}));
}

TEST(ReporterLogTests, ConfigurationFiltersByLevelAndSwitch) {
  LogCapture capture;
  DozidiLog::configure(true, DozidiEventLevel::Debug);
  DozidiLog::logWithMessage("debug line", DozidiEventLevel::Debug);
  DozidiLog::logWithMessage("never", DozidiEventLevel::None);
  DozidiLog::logWithMessage("odd level", static_cast<DozidiEventLevel>(9));
  DozidiLog::configure(false, DozidiEventLevel::Debug);
  DozidiLog::logWithMessage("silent", DozidiEventLevel::Fatal);
  DOZIDI_LOG_ERROR("silent too");
  EXPECT_EQ(capture.lines(), (std::vector<std::string>{"[Dozidi] [debug] debug line", "[Dozidi] [none] odd level"}));
  DozidiLog::configure(true, DozidiEventLevel::Error);
}

TEST(ReporterLogTests, LinesOfAClassCarryItsFileAndLine) {
  LogCapture capture;
  DozidiLog::configure(true, DozidiEventLevel::Debug);
  DOZIDI_LOG_INFO("hello " + std::to_string(42));
  ASSERT_EQ(capture.lines().size(), 1u);
  EXPECT_TRUE(std::regex_match(capture.lines()[0], std::regex(R"(\[Dozidi\] \[info\] \[ReporterLogTests:\d+\] hello 42)")))
      << capture.lines()[0];
  DozidiLog::configure(true, DozidiEventLevel::Error);
}

TEST(ReporterLogTests, LevelNamesAndParsing) {
  struct Case {
    DozidiEventLevel level;
    const char* name;
  };
  const Case cases[] = {{DozidiEventLevel::None, "none"},     {DozidiEventLevel::Debug, "debug"},
                        {DozidiEventLevel::Info, "info"},     {DozidiEventLevel::Warning, "warning"},
                        {DozidiEventLevel::Error, "error"},   {DozidiEventLevel::Fatal, "fatal"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(nameForDozidiLevel(c.level), c.name);
    EXPECT_EQ(dozidiLevelForString(c.name), c.level);
  }
  EXPECT_EQ(nameForDozidiLevel(static_cast<DozidiEventLevel>(7)), "none");
  EXPECT_EQ(dozidiLevelForString("Warning"), DozidiEventLevel::Error);
  EXPECT_EQ(dozidiLevelForString(std::nullopt), DozidiEventLevel::Error);
}

TEST(ReporterLogTests, SdkInfoFromDictionaryAndDefaults) {
  const DozidiSdkInfo defaults("dozidi.cocoa", "7.31.5");
  struct Case {
    const char* name;
    Dictionary dict;
    const DozidiSdkInfo* defaults;
    DozidiSdkInfo expected;
  };
  const Case cases[] = {
      {"name given, version from defaults", Dictionary{{"sdk", Dictionary{{"name", "x"}}}}, &defaults,
       DozidiSdkInfo("x", "7.31.5")},
      {"both given", Dictionary{{"sdk", Dictionary{{"name", "x"}, {"version", "1"}}}}, &defaults,
       DozidiSdkInfo("x", "1")},
      {"wrong types fall back", Dictionary{{"sdk", Dictionary{{"name", 3}}}}, &defaults, defaults},
      {"sdk not a dictionary", Dictionary{{"sdk", "x"}}, &defaults, DozidiSdkInfo("", "")},
      {"no sdk", Dictionary{}, &defaults, DozidiSdkInfo("", "")},
      {"no defaults", Dictionary{{"sdk", Dictionary{{"version", "2"}}}}, nullptr, DozidiSdkInfo("", "2")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(DozidiSdkInfo::initWithDict(c.dict, c.defaults), c.expected);
  }
  EXPECT_EQ(DozidiSdkInfo(std::nullopt, "").serialize(),
            (Dictionary{{"sdk", Dictionary{{"name", ""}, {"version", ""}}}}));
  EXPECT_EQ(defaults.serialize(), (Dictionary{{"sdk", Dictionary{{"name", "dozidi.cocoa"}, {"version", "7.31.5"}}}}));
}

TEST(ReporterLogTests, MetaStartsWithTheSdkIdentityAndCanBeReplaced) {
  EXPECT_EQ(DozidiMeta::sdkName(), "dozidi.cocoa");
  EXPECT_EQ(DozidiMeta::versionString(), "7.31.5");
  DozidiMeta::setSdkName("dozidi.react");
  DozidiMeta::setVersionString("1.0");
  EXPECT_EQ(DozidiMeta::sdkName(), "dozidi.react");
  EXPECT_EQ(DozidiMeta::versionString(), "1.0");
  DozidiMeta::setSdkName("dozidi.cocoa");
  DozidiMeta::setVersionString("7.31.5");
}

TEST(ReporterLogTests, ReconfiguringWhileOtherThreadsLogAndReadTheIdentityIsSafe) {
  LogCapture capture;
  std::atomic<bool> stop{false};
  std::vector<std::thread> readers;
  for (int i = 0; i < 4; ++i) {
    readers.emplace_back([&] {
      while (!stop) {
        DOZIDI_LOG_ERROR("from " + DozidiMeta::sdkName() + "/" + DozidiMeta::versionString());
      }
    });
  }
  for (int i = 0; i < 200; ++i) {
    DozidiLog::configure(i % 2 == 0, DozidiEventLevel::Debug);
    DozidiMeta::setSdkName(i % 2 ? "dozidi.cocoa" : "dozidi.hybrid");
    DozidiMeta::setVersionString(std::to_string(i));
    DozidiLog::setLogOutput(DozidiLog::logOutput());
  }
  stop = true;
  for (auto& reader : readers) reader.join();
  DozidiLog::configure(true, DozidiEventLevel::Error);
  DozidiMeta::setSdkName("dozidi.cocoa");
  DozidiMeta::setVersionString("7.31.5");
  for (const auto& line : capture.lines()) EXPECT_TRUE(line.starts_with("[Dozidi] [error] [ReporterLogTests:")) << line;
}

}  // namespace
