#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>

#include "AllocationCounter.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Monitors/DozidiCrashMonitor_AppState.h"

namespace fs = std::filesystem;

namespace {

std::atomic<double> g_now{1'700'000'000.0};
double testNow() { return g_now.load(); }

class CrashStateTests : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("crash-state-" + std::to_string(::getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    path_ = (dir_ / "CrashState.json").string();
    g_now = 1'700'000'000.0;
    dozidicrashstate_setTimeSource(testNow);
    api()->setEnabled(false);
  }
  void TearDown() override {
    api()->setEnabled(false);
    dozidicrashstate_setTimeSource(nullptr);
    fs::remove_all(dir_);
  }

  static const DozidiCrashMonitorAPI* api() { return dozidicrashcm_appstate_getAPI(); }
  /// One launch: load the file and enable the monitor (the launch transition).
  void launch() const {
    api()->setEnabled(false);
    dozidicrashstate_loadState(path_.c_str());
    api()->setEnabled(true);
  }
  std::string file() const {
    std::ifstream in(path_);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  // The file's JSON without the blanks that keep every saved file the same size.
  std::string text() const {
    std::string content = file();
    content.erase(content.find_last_not_of(' ') + 1);
    return content;
  }
  static const DozidiCrash_AppState& state() { return *dozidicrashstate_currentState(); }

  fs::path dir_;
  std::string path_;
};

TEST_F(CrashStateTests, FirstLaunchWritesTheFileInKeyOrder) {
  launch();
  EXPECT_EQ(text(),
            "{\n"
            "    \"version\": 1,\n"
            "    \"crashedLastLaunch\": false,\n"
            "    \"durationFromCrashStateInitToLastCrash\": 0,\n"
            "    \"activeDurationSinceLastCrash\": 0,\n"
            "    \"backgroundDurationSinceLastCrash\": 0,\n"
            "    \"launchesSinceLastCrash\": 1,\n"
            "    \"sessionsSinceLastCrash\": 1\n"
            "}");
  EXPECT_FALSE(fs::exists(path_ + ".tmp"));
  launch();
  EXPECT_EQ(state().launchesSinceLastCrash, 2);
  EXPECT_EQ(state().sessionsSinceLastCrash, 2);
}

TEST_F(CrashStateTests, ACrashIsReadBackOnTheNextLaunch) {
  launch();
  dozidicrashstate_notifyAppActive(true);
  g_now = g_now + 1.5;
  allocation_counter::start();
  dozidicrashstate_notifyAppCrash();  // runs in the crash handler
  EXPECT_EQ(allocation_counter::stop(), 0u);
  EXPECT_NE(file().find("\"crashedLastLaunch\": true"), std::string::npos) << file();
  EXPECT_NE(file().find("\"durationFromCrashStateInitToLastCrash\": 1.5,"), std::string::npos) << file();
  EXPECT_NE(file().find("\"activeDurationSinceLastCrash\": 1.5,"), std::string::npos) << file();

  DozidiCrash_MonitorContext event{};
  api()->addContextualInfoToEvent(&event);
  EXPECT_TRUE(event.AppState.crashedThisLaunch);
  EXPECT_TRUE(event.AppState.applicationIsActive);
  EXPECT_DOUBLE_EQ(event.AppState.activeDurationSinceLaunch, 1.5);

  api()->setEnabled(false);
  dozidicrashstate_loadState(path_.c_str());
  EXPECT_TRUE(state().crashedLastLaunch);
  EXPECT_DOUBLE_EQ(state().durationFromCrashStateInitToLastCrash, 1.5);
  api()->setEnabled(true);
  EXPECT_EQ(state().launchesSinceLastCrash, 1);
  EXPECT_EQ(state().sessionsSinceLastCrash, 1);
  EXPECT_EQ(state().activeDurationSinceLastCrash, 0.0);
  EXPECT_FALSE(state().crashedThisLaunch);
}

TEST_F(CrashStateTests, TransitionsCountSessionsAndDurations) {
  launch();
  for (double seconds : {2.0, 3.0}) {
    dozidicrashstate_notifyAppInForeground(false);
    g_now = g_now + seconds;
    dozidicrashstate_notifyAppInForeground(true);
  }
  EXPECT_EQ(state().sessionsSinceLaunch, 3);
  EXPECT_EQ(state().sessionsSinceLastCrash, 3);
  EXPECT_DOUBLE_EQ(state().backgroundDurationSinceLastCrash, 5.0);
  EXPECT_DOUBLE_EQ(state().backgroundDurationSinceLaunch, 5.0);

  // Inactive in the foreground: a crash changes no duration.
  g_now = g_now + 10.0;
  dozidicrashstate_notifyAppCrash();
  EXPECT_DOUBLE_EQ(state().backgroundDurationSinceLastCrash, 5.0);
  EXPECT_DOUBLE_EQ(state().activeDurationSinceLastCrash, 0.0);
  EXPECT_TRUE(state().crashedThisLaunch);
}

TEST_F(CrashStateTests, AnotherVersionIsRejectedKeepingWhatCameBefore) {
  std::ofstream(path_) << R"({"launchesSinceLastCrash":7,"version":2,"sessionsSinceLastCrash":9})";
  dozidicrashstate_loadState(path_.c_str());
  EXPECT_EQ(state().launchesSinceLastCrash, 7);
  EXPECT_EQ(state().sessionsSinceLastCrash, 0);

  std::ofstream(path_) << R"({"version":1,"launchesSinceLastCrash":4,"activeDurationSinceLastCrash":3,"x":[1]})";
  dozidicrashstate_loadState(path_.c_str());
  EXPECT_EQ(state().launchesSinceLastCrash, 4);
  EXPECT_DOUBLE_EQ(state().activeDurationSinceLastCrash, 3.0);
}

TEST_F(CrashStateTests, WithoutRoomForANewFileTheCrashIsRecordedInPlace) {
  // On a full disk the temporary file cannot be written; the existing file is overwritten
  // without growing, and the next launch still learns that this one crashed.
  launch();
  const std::string before = file();
  fs::create_directories(path_ + ".tmp");  // the temporary file cannot be created
  dozidicrashstate_notifyAppCrash();
  EXPECT_EQ(file().size(), before.size());
  dozidicrashstate_loadState(path_.c_str());
  EXPECT_TRUE(state().crashedLastLaunch) << file();
}

TEST_F(CrashStateTests, AFailedSaveLeavesThePreviousFileWhole) {
  // Neither a new file nor an overwrite (the state does not fit into the short file there): the
  // file stays as it was.
  launch();
  std::ofstream(path_) << R"({"version":1})";
  const std::string before = file();
  fs::create_directories(path_ + ".tmp");
  EXPECT_FALSE(dozidicrashstate_saveState(path_.c_str()));
  EXPECT_EQ(file(), before);
}

}  // namespace
