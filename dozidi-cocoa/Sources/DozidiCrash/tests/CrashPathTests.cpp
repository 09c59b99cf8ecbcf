// Real crashes: each test starts the crash child under a watchdog, lets it crash in one of its
// crash_* functions, and reads the report it left with a strict JSON parser and with the
// recorder's own reader.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
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
  ASSERT_FALSE(report["binary_images"].empty());
  // The app's id is read from the images after the install: a crash right after it still has it.
  EXPECT_EQ(report["system"]["app_uuid"], report["binary_images"][0]["uuid"]);

  const foundation::Value decoded = readBack(folder_.path());
  ASSERT_NE(decoded.dictionary(), nullptr);
  EXPECT_NE(decoded["report"]["timestamp"].string(), nullptr);
  EXPECT_EQ(decoded["report"]["id"].asString(), id);

  const json state = json::parse(readFile(folder_.file("Data/CrashState.json")));
  EXPECT_TRUE(state["crashedLastLaunch"].get<bool>());
}

struct SignalCase {
  const char* scenario;
  int signal;
  const char* name;
  int code;
  const char* codeName;  // null when the code has no name
  const char* function;
  bool addressFromChild;  // the child wrote the expected fault address
};

class SignalCrashTest : public CrashPathTest, public ::testing::WithParamInterface<SignalCase> {};

TEST_P(SignalCrashTest, NamesAndCodesTheSignal) {
  const SignalCase& c = GetParam();
  ASSERT_NO_FATAL_FAILURE(crash(c.scenario, c.signal));
  const json report = onlyReport(folder_.path());
  ASSERT_TRUE(report.is_object());
  const json& error = report["crash"]["error"];
  EXPECT_EQ(error["type"], "signal");
  EXPECT_EQ(error["signal"]["signal"], c.signal);
  EXPECT_EQ(error["signal"]["name"], c.name);
  EXPECT_EQ(error["signal"]["code"].get<std::int64_t>(), c.code);
  if (c.codeName != nullptr) {
    EXPECT_EQ(error["signal"]["code_name"], c.codeName);
  } else {
    EXPECT_FALSE(error["signal"].contains("code_name"));
  }
  if (c.addressFromChild) {
    EXPECT_EQ(std::to_string(error["address"].get<std::uint64_t>()), readFile(folder_.file("fault-address")));
  }
  const json* crashed = crashedThread(report["crash"]["threads"]);
  ASSERT_NE(crashed, nullptr);
  const std::vector<std::string> frames = frameNames(*crashed);
  EXPECT_TRUE(contains(frames, c.function)) << ::testing::PrintToString(frames);
}

INSTANTIATE_TEST_SUITE_P(
    Signals, SignalCrashTest,
    ::testing::Values(
        // abort() sends the signal to itself: the code is SI_TKILL, which has no name.
        SignalCase{"abort", SIGABRT, "SIGABRT", SI_TKILL, nullptr, "crash_abort", false},
        SignalCase{"divide-by-zero", SIGFPE, "SIGFPE", FPE_INTDIV, "FPE_INTDIV", "crash_divide_by_zero", false},
        SignalCase{"trap", SIGILL, "SIGILL", ILL_ILLOPN, "ILL_ILLOPN", "crash_trap", false},
        SignalCase{"read-only", SIGSEGV, "SIGSEGV", SEGV_ACCERR, "SEGV_ACCERR", "crash_write_read_only", true},
        SignalCase{"truncated-file", SIGBUS, "SIGBUS", BUS_ADRERR, "BUS_ADRERR", "crash_read_truncated_mapping", true}),
    [](const ::testing::TestParamInfo<SignalCase>& info) {
      std::string name = info.param.scenario;
      std::erase(name, '-');
      return name;
    });

TEST_F(CrashPathTest, NormalExitKeepsItsStatusAndLeavesNoReport) {
  // Returning from main and calling exit(3) run the static destructors while the recorder's own
  // threads still exist; neither may turn into a crash.
  const struct {
    const char* scenario;
    int status;
  } cases[] = {{"return-0", 0}, {"exit-3", 3}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.scenario);
    testing_support::TemporaryFolder folder{"crash-path-exit"};
    const ChildEnd end = runChild(c.scenario, folder.path());
    ASSERT_FALSE(end.timedOut) << end.output;
    EXPECT_FALSE(end.signaled) << "signal " << end.signal << "\n" << end.output;
    EXPECT_EQ(end.exitCode, c.status) << end.output;
    EXPECT_TRUE(filesIn(folder.path() + "/Reports").empty()) << ::testing::PrintToString(filesIn(folder.path() + "/Reports"));
  }
}

TEST_F(CrashPathTest, UncaughtCppExceptionIsReportedWithTheThrowingStack) {
  ASSERT_NO_FATAL_FAILURE(crash("runtime-error", SIGABRT));
  const json report = onlyReport(folder_.path());
  ASSERT_TRUE(report.is_object());
  const json& error = report["crash"]["error"];
  EXPECT_EQ(error["type"], "cpp_exception");
  EXPECT_EQ(error["reason"], "boom");
  EXPECT_EQ(error["cpp_exception"]["name"], typeid(std::runtime_error).name());
  EXPECT_EQ(error["signal"]["signal"], SIGABRT);
  EXPECT_EQ(error["mach"]["exception"], 10);
  const json* crashed = crashedThread(report["crash"]["threads"]);
  ASSERT_NE(crashed, nullptr);
  const std::vector<std::string> frames = frameNames(*crashed);
  EXPECT_TRUE(contains(frames, "crash_throw_runtime_error")) << ::testing::PrintToString(frames);
}

TEST_F(CrashPathTest, ThrowsOnOtherThreadsDoNotReplaceTheThrowingStack) {
  // Another thread throws and catches without pause while this one throws for good.
  ASSERT_NO_FATAL_FAILURE(crash("runtime-error-busy", SIGABRT));
  const json report = onlyReport(folder_.path());
  ASSERT_TRUE(report.is_object());
  EXPECT_EQ(report["crash"]["error"]["reason"], "boom");
  const json* crashed = crashedThread(report["crash"]["threads"]);
  ASSERT_NE(crashed, nullptr);
  const std::vector<std::string> frames = frameNames(*crashed);
  EXPECT_TRUE(contains(frames, "crash_throw_runtime_error")) << ::testing::PrintToString(frames);
  EXPECT_FALSE(contains(frames, "helper_throw_and_catch")) << ::testing::PrintToString(frames);
}

TEST_F(CrashPathTest, UncaughtObjectExceptionIsReportedOnceAndHandedToTheEarlierHandler) {
  ASSERT_NO_FATAL_FAILURE(crash("object-exception", SIGABRT));
  const json report = onlyReport(folder_.path());
  ASSERT_TRUE(report.is_object());
  const json& error = report["crash"]["error"];
  EXPECT_EQ(error["type"], "nsexception");
  EXPECT_EQ(error["reason"], "raised on purpose");
  EXPECT_EQ(error["nsexception"]["name"], "ChildTestException");
  EXPECT_NE(error["nsexception"]["userInfo"].get<std::string>().find("value"), std::string::npos)
      << error["nsexception"]["userInfo"];
  EXPECT_EQ(readFile(folder_.file("uncaught-handler-calls")), "x");
  const json* crashed = crashedThread(report["crash"]["threads"]);
  ASSERT_NE(crashed, nullptr);
  EXPECT_TRUE(contains(frameNames(*crashed), "crash_raise_object_exception"))
      << ::testing::PrintToString(frameNames(*crashed));
}

TEST_F(CrashPathTest, StackOverflowIsCaughtOnTheAlternateStack) {
  ASSERT_NO_FATAL_FAILURE(crash("stack-overflow", SIGSEGV));
  const json report = onlyReport(folder_.path());
  ASSERT_TRUE(report.is_object());
  const json* crashed = crashedThread(report["crash"]["threads"]);
  ASSERT_NE(crashed, nullptr);
  EXPECT_TRUE((*crashed)["stack"]["overflow"].get<bool>());
  EXPECT_EQ(frameNames(*crashed).at(0), "crash_recurse");
}

TEST_F(CrashPathTest, StackOverflowOnAnotherThreadIsCaughtOnThatThreadsAlternateStack) {
  ASSERT_NO_FATAL_FAILURE(crash("thread-stack-overflow", SIGSEGV));
  const json report = onlyReport(folder_.path());
  ASSERT_TRUE(report.is_object());
  const json& threads = report["crash"]["threads"];
  const json* crashed = crashedThread(threads);
  ASSERT_NE(crashed, nullptr);
  EXPECT_TRUE((*crashed)["stack"]["overflow"].get<bool>());
  EXPECT_TRUE((*crashed)["current_thread"].get<bool>());
  EXPECT_EQ(frameNames(*crashed).at(0), "crash_recurse");
  // Not the main thread (listed first), which waits for the overflowing one to end.
  EXPECT_NE((*crashed)["index"], 0);
  EXPECT_FALSE(threads.at(0)["crashed"].get<bool>());
}

TEST_F(CrashPathTest, FaultInsideTheUserCallbackLeavesARecrashReport) {
  ASSERT_NO_FATAL_FAILURE(crash("callback-fault", SIGSEGV));
  const json report = onlyReport(folder_.path());
  ASSERT_TRUE(report.is_object());
  EXPECT_EQ(report["report"]["type"], "minimal");
  EXPECT_EQ(report["crash"]["error"]["signal"]["signal"], SIGSEGV);
  EXPECT_TRUE(report["crash"]["crashed_thread"]["crashed"].get<bool>());
  // The report being written when the callback faulted, cut short but embedded as valid JSON.
  const json& first = report["recrash_report"];
  ASSERT_TRUE(first.is_object());
  EXPECT_EQ(first["report"]["type"], "standard");
  EXPECT_EQ(first["user"]["child"], "crash_child");
  const foundation::Value decoded = readBack(folder_.path());
  EXPECT_NE(decoded["recrash_report"]["report"]["timestamp"].string(), nullptr);
}

TEST_F(CrashPathTest, OtherThreadsStayStoppedWhileTheReportIsWritten) {
  ASSERT_NO_FATAL_FAILURE(crash("threads-stopped", SIGSEGV));
  const json report = onlyReport(folder_.path());
  ASSERT_TRUE(report.is_object());
  const json& user = report["user"];
  ASSERT_TRUE(user.contains("counter_before") && user.contains("counter_after")) << user;
  EXPECT_GT(user["counter_before"].get<std::uint64_t>(), 0u);
  EXPECT_EQ(user["counter_before"], user["counter_after"]);
}

// The other threads are asked to stop while the report's first sections are written, and the
// report waits for them before it writes its threads: every one of the twenty must be listed with
// the registers it stopped with.
TEST_F(CrashPathTest, EveryThreadOfTwentyIsWrittenWithTheRegistersItStoppedWith) {
  ASSERT_NO_FATAL_FAILURE(crash("twenty-threads", SIGSEGV));
  const json report = onlyReport(folder_.path());
  ASSERT_TRUE(report.is_object());
  const json& threads = report["crash"]["threads"];
  ASSERT_EQ(threads.size(), 20u);
  ASSERT_NE(crashedThread(threads), nullptr);
  for (std::size_t i = 0; i < threads.size(); ++i) {
    const json& thread = threads[i];
    EXPECT_EQ(thread["index"], i);
    const json& registers = thread["registers"]["basic"];
    EXPECT_NE(registers.value("rip", 0u), 0u) << "thread " << i;
    EXPECT_NE(registers.value("rsp", 0u), 0u) << "thread " << i;
    EXPECT_FALSE(thread["backtrace"]["contents"].empty()) << "thread " << i;
  }
}

TEST_F(CrashPathTest, TwoThreadsCrashingAtOnceGiveOneStandardReport) {
  ASSERT_NO_FATAL_FAILURE(crash("two-threads", SIGSEGV));
  const json report = onlyReport(folder_.path());
  ASSERT_TRUE(report.is_object());
  EXPECT_EQ(report["report"]["type"], "standard");
  const json* crashed = crashedThread(report["crash"]["threads"]);
  ASSERT_NE(crashed, nullptr);
  EXPECT_EQ(frameNames(*crashed).at(0), "crash_on_signal");
}

TEST_F(CrashPathTest, LocksHeldByStoppedThreadsDoNotBlockTheReport) {
  // Helpers wait inside the loader's lock, the allocator's lock and the stdio locks.
  ASSERT_NO_FATAL_FAILURE(crash("lock-holders", SIGSEGV));
  const json report = onlyReport(folder_.path());
  ASSERT_TRUE(report.is_object());
  EXPECT_TRUE(report.contains("debug"));
  EXPECT_EQ(static_cast<int>(report["crash"]["threads"].size()), childFacts()["threads"].get<int>());
  const json* crashed = crashedThread(report["crash"]["threads"]);
  ASSERT_NE(crashed, nullptr);
  EXPECT_EQ(frameNames(*crashed).at(0), "crash_null_dereference");
}

TEST_F(CrashPathTest, ObjectsNearTheCrashAreDescribed) {
  ASSERT_NO_FATAL_FAILURE(crash("introspect", SIGSEGV));
  const json report = onlyReport(folder_.path());
  ASSERT_TRUE(report.is_object());
  const json objects = json::parse(readFile(folder_.file("objects.json")));
  const json* crashed = crashedThread(report["crash"]["threads"]);
  ASSERT_NE(crashed, nullptr);
  bool sawLive = false, sawFreed = false;
  for (const auto& item : (*crashed)["notable_addresses"].items()) {
    const json& contents = item.value();
    if (contents["address"] == objects["live"]) {
      sawLive = true;
      EXPECT_EQ(contents["type"], "objc_object");
      EXPECT_EQ(contents["class"], "NSString");
      EXPECT_EQ(contents["value"], "hello introspection");
    }
    if (contents["address"] == objects["freed"]) {
      sawFreed = true;
      EXPECT_EQ(contents["last_deallocated_obj"], "NSNumber");
    }
  }
  EXPECT_TRUE(sawLive && sawFreed) << (*crashed)["notable_addresses"].dump(2);

  const json& exception = report["process"]["last_dealloced_nsexception"];
  EXPECT_EQ(exception["name"], "FreedException");
  EXPECT_EQ(exception["referenced_object"]["address"], objects["live"]);
  EXPECT_EQ(exception["referenced_object"]["value"], "hello introspection");
}

TEST_F(CrashPathTest, AttachmentCallbacksRunForLanguageExceptionsOnlyNeverInASignalHandler) {
  struct Case {
    const char* scenario;
    int signal;
    bool attachments;
  };
  const Case cases[] = {
      {"attachments-object-exception", SIGABRT, true},
      {"attachments-runtime-error", SIGABRT, true},
      {"attachments", SIGSEGV, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.scenario);
    std::filesystem::remove_all(folder_.file("Reports"));
    ASSERT_NO_FATAL_FAILURE(crash(c.scenario, c.signal));
    std::vector<std::string> files = filesIn(folder_.file("Reports"));
    const auto report = std::find_if(files.begin(), files.end(), [](const std::string& f) { return f.ends_with(".json"); });
    ASSERT_NE(report, files.end()) << ::testing::PrintToString(files);
    const std::string attachments = report->substr(0, report->size() - 5) + "-attachments";
    if (!c.attachments) {
      EXPECT_EQ(files.size(), 1u) << "no attachments folder: " << ::testing::PrintToString(files);
      continue;
    }
    ASSERT_EQ(files.size(), 2u) << ::testing::PrintToString(files);
    std::vector<std::string> saved = filesIn(folder_.file("Reports/" + attachments));
    std::sort(saved.begin(), saved.end());
    EXPECT_EQ(saved, (std::vector<std::string>{"screenshot", "view-hierarchy"}));
  }
}

}  // namespace
