// Real crashes: each test starts the crash child under a watchdog, lets it crash in one of its
// crash_* functions, and reads the report it left with a strict JSON parser and with the
// recorder's own reader.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <typeinfo>
#include <vector>

#include "dozidi-cocoa/Sources/DozidiCrash/Recording/DozidiCrashC.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/DozidiCrashReportStore.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashJSONCodec.h"
#include "testing/TemporaryFolder.h"

extern char** environ;

namespace {

using json = nlohmann::ordered_json;
namespace fs = std::filesystem;

constexpr int kAllocationTrapExitCode = 97;
constexpr auto kWatchdog = std::chrono::seconds(20);

struct ChildEnd {
  bool timedOut = false;
  bool signaled = false;
  int signal = 0;
  int exitCode = -1;
  std::string output;
};

ChildEnd runChild(const std::string& scenario, const std::string& folder) {
  const std::string outputPath = folder + "/child-output.txt";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  std::vector<std::string> arguments{CRASH_CHILD, scenario, folder};
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  ChildEnd end;
  if (posix_spawn(&pid, CRASH_CHILD, &actions, nullptr, argv.data(), environ) != 0) {
    posix_spawn_file_actions_destroy(&actions);
    return end;
  }
  posix_spawn_file_actions_destroy(&actions);

  const auto deadline = std::chrono::steady_clock::now() + kWatchdog;
  int status = 0;
  for (;;) {
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      end.timedOut = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  if (WIFSIGNALED(status)) {
    end.signaled = true;
    end.signal = WTERMSIG(status);
  } else if (WIFEXITED(status)) {
    end.exitCode = WEXITSTATUS(status);
  }
  std::ifstream output(outputPath);
  end.output.assign(std::istreambuf_iterator<char>(output), {});
  return end;
}

std::string readFile(const std::string& path) {
  std::ifstream file(path);
  return {std::istreambuf_iterator<char>(file), {}};
}

std::vector<std::string> filesIn(const std::string& folder) {
  std::vector<std::string> names;
  if (!fs::exists(folder)) return names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  return names;
}

// The one report the child left, parsed strictly; fails the test when there is not exactly one
// report file (a leftover ".old" file counts).
json onlyReport(const std::string& folder) {
  const std::vector<std::string> files = filesIn(folder + "/Reports");
  EXPECT_EQ(files.size(), 1u) << ::testing::PrintToString(files);
  if (files.size() != 1) return {};
  EXPECT_TRUE(files[0].starts_with("CrashChild-report-") && files[0].ends_with(".json")) << files[0];
  try {
    return json::parse(readFile(folder + "/Reports/" + files[0]));
  } catch (const json::exception& error) {
    ADD_FAILURE() << "report is not valid JSON: " << error.what();
    return {};
  }
}

// Reads the report back through the recorder's store, fixer and decoder.
foundation::Value readBack(const std::string& folder) {
  dozidicrashstore_initialize("CrashChild", (folder + "/Reports").c_str());
  std::int64_t ids[4];
  const int count = dozidicrashstore_getReportIDs(ids, 4);
  EXPECT_EQ(count, 1);
  if (count != 1) return {};
  const std::optional<std::string> fixed = dozidicrash_readReport(ids[0]);
  EXPECT_TRUE(fixed.has_value());
  if (!fixed) return {};
  foundation::Error error("", 0);
  foundation::Value decoded = DozidiCrashJSONCodec::decode(*fixed, 0, &error);
  EXPECT_NE(decoded.dictionary(), nullptr) << error.localizedDescription();
  return decoded;
}

const json* crashedThread(const json& threads) {
  const json* found = nullptr;
  int crashed = 0;
  for (const json& thread : threads) {
    if (thread.value("crashed", false)) {
      ++crashed;
      found = &thread;
    }
  }
  EXPECT_EQ(crashed, 1);
  return found;
}

std::vector<std::string> frameNames(const json& thread) {
  std::vector<std::string> names;
  for (const json& frame : thread["backtrace"]["contents"]) names.push_back(frame.value("symbol_name", ""));
  return names;
}

bool contains(const std::vector<std::string>& names, const std::string& name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

class CrashPathTest : public ::testing::Test {
 protected:
  testing_support::TemporaryFolder folder_{"crash-path"};

  // Runs the scenario and requires that the child died by `signal`, neither hanging nor
  // allocating in the crash path.
  void crash(const std::string& scenario, int signal) {
    const ChildEnd end = runChild(scenario, folder_.path());
    ASSERT_FALSE(end.timedOut) << "crash handling hung\n" << end.output;
    ASSERT_NE(end.exitCode, kAllocationTrapExitCode) << "the crash path allocated\n" << end.output;
    ASSERT_TRUE(end.signaled) << "exit code " << end.exitCode << "\n" << end.output;
    ASSERT_EQ(end.signal, signal) << end.output;
  }

  json childFacts() { return json::parse(readFile(folder_.file("child-facts.json"))); }
};

TEST_F(CrashPathTest, NullDereferenceWritesOneFullStandardReport) {
  ASSERT_NO_FATAL_FAILURE(crash("null", SIGSEGV));
  const json report = onlyReport(folder_.path());
  ASSERT_TRUE(report.is_object());

  const json& info = report["report"];
  EXPECT_EQ(info["version"], "3.2.0");
  EXPECT_EQ(info["type"], "standard");
  const std::string id = info["id"];
  EXPECT_EQ(id.size(), 36u);
  EXPECT_EQ(id, [&] {
    std::string upper = id;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return upper;
  }());
  EXPECT_TRUE(info["timestamp"].is_number_integer());

  std::vector<std::string> keys;
  for (const auto& item : report.items()) keys.push_back(item.key());
  EXPECT_EQ(keys, (std::vector<std::string>{"report", "binary_images", "process", "system", "crash",
                                            "dozidi_sdk_scope", "user", "debug"}));
  EXPECT_EQ(report["user"]["child"], "crash_child");

  const json& error = report["crash"]["error"];
  EXPECT_EQ(error["type"], "signal");
  EXPECT_EQ(error["signal"]["signal"], SIGSEGV);
  EXPECT_EQ(error["signal"]["name"], "SIGSEGV");
  EXPECT_EQ(error["signal"]["code"], SEGV_MAPERR);
  EXPECT_EQ(error["signal"]["code_name"], "SEGV_MAPERR");
  EXPECT_EQ(error["address"], 0);
  EXPECT_EQ(error["mach"]["exception"], 1);
  EXPECT_EQ(error["mach"]["exception_name"], "EXC_BAD_ACCESS");

  const json& threads = report["crash"]["threads"];
  EXPECT_EQ(static_cast<int>(threads.size()), childFacts()["threads"].get<int>());
  const json* crashed = crashedThread(threads);
  ASSERT_NE(crashed, nullptr);
  EXPECT_TRUE((*crashed)["current_thread"].get<bool>());
  int current = 0;
  for (const json& thread : threads) current += thread["current_thread"].get<bool>() ? 1 : 0;
  EXPECT_EQ(current, 1);
  const std::vector<std::string> frames = frameNames(*crashed);
  ASSERT_FALSE(frames.empty());
  EXPECT_EQ(frames[0], "crash_null_dereference");
  EXPECT_TRUE(contains(std::vector<std::string>(frames.begin() + 1, frames.end()), "main"))
      << ::testing::PrintToString(frames);
  for (const char* name : {"rip", "rsp", "rbp", "rax"}) EXPECT_TRUE((*crashed)["registers"]["basic"].contains(name)) << name;
  EXPECT_TRUE((*crashed)["registers"]["exception"].contains("cr2"));
  EXPECT_EQ((*crashed)["stack"]["grow_direction"], "-");
  EXPECT_FALSE((*crashed)["stack"]["overflow"].get<bool>());
  EXPECT_FALSE(report["binary_images"].empty());

  const foundation::Value decoded = readBack(folder_.path());
  ASSERT_NE(decoded.dictionary(), nullptr);
  EXPECT_NE(decoded["report"]["timestamp"].string(), nullptr);
  EXPECT_EQ(decoded["report"]["id"].asString(), id);

  const json state = json::parse(readFile(folder_.file("Data/CrashState.json")));
  EXPECT_TRUE(state["crashedLastLaunch"].get<bool>());
}

}  // namespace
