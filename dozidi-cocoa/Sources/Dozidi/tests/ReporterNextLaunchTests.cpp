// End to end: a real program crashes in its first launch and its second launch delivers the crash
// to the loopback ingestion server, with the crash-time scope.
#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "testing/Gzip.h"
#include "testing/IngestionServer.h"
#include "testing/ProgramRun.h"
#include "testing/TemporaryFolder.h"

namespace {

using json = nlohmann::json;
namespace fs = std::filesystem;

// The items of one envelope body: header line, then item header and payload lines.
struct Envelope {
  json header;
  std::vector<std::pair<json, json>> items;
};

std::optional<Envelope> parseEnvelope(const testing_support::IngestionRequest& request) {
  const std::optional<std::string> text = testing_support::gunzip(request.body);
  if (!text) return std::nullopt;
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start <= text->size()) {
    const std::size_t end = text->find('\n', start);
    lines.push_back(text->substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  Envelope envelope;
  try {
    envelope.header = json::parse(lines.at(0));
    for (std::size_t i = 1; i + 1 < lines.size(); i += 2) {
      if (lines[i].empty()) continue;
      envelope.items.emplace_back(json::parse(lines[i]), json::parse(lines[i + 1]));
    }
  } catch (const std::exception&) {
    return std::nullopt;
  }
  return envelope;
}

// Every payload of item type `type` in the requests from `first` on.
std::vector<json> payloads(const std::vector<testing_support::IngestionRequest>& requests, std::size_t first,
                           const std::string& type) {
  std::vector<json> found;
  for (std::size_t i = first; i < requests.size(); ++i) {
    auto envelope = parseEnvelope(requests[i]);
    if (!envelope) continue;
    for (const auto& [header, payload] : envelope->items) {
      if (header.value("type", "") == type) found.push_back(payload);
    }
  }
  return found;
}

std::vector<std::string> filesUnder(const std::string& root, const std::string& folderName) {
  std::vector<std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_regular_file() && entry.path().parent_path().filename() == folderName) files.push_back(entry.path());
  }
  return files;
}

class ReporterNextLaunchTests : public ::testing::TestWithParam<const char*> {
 protected:
  testing_support::ProgramRun launch(const std::string& mode) {
    auto environment = testing_support::environmentWith({{"FENDREL_DEVICE_ROOT", root_.path()}});
    return testing_support::runProgram({NEXT_LAUNCH_CHILD, mode, server_.dsn("pub", "/42")}, environment,
                                       work_.path());
  }

  testing_support::TemporaryFolder root_{"next-launch-root"};
  testing_support::TemporaryFolder work_{"next-launch-work"};
  testing_support::IngestionServer server_;
};

class ReporterNextLaunchFullDiskTests : public ReporterNextLaunchTests {};
class ReporterNextLaunchRateLimitTests : public ReporterNextLaunchTests {};

struct CrashCase {
  const char* mode;
  int signal;
  const char* type;
  const char* valueStart;
  const char* function;
};

const CrashCase kCases[] = {
    {"null", SIGSEGV, "SIGSEGV", "Signal 11, Code 1", "next_launch_dereference_null"},
    {"abort", SIGABRT, "SIGABRT", "Signal 6, Code ", "next_launch_abort"},
    {"throw", SIGABRT, "C++ Exception", "St13runtime_error: e2e boom", "next_launch_throw"},
};

TEST_P(ReporterNextLaunchTests, SecondLaunchDeliversTheFirstLaunchsCrashOnce) {
  const CrashCase* c = nullptr;
  for (const CrashCase& candidate : kCases) {
    if (std::string(candidate.mode) == GetParam()) c = &candidate;
  }
  ASSERT_NE(c, nullptr);
  const auto crashed = launch(c->mode);
  ASSERT_EQ(crashed.status, 128 + c->signal) << crashed.err;
  const std::vector<std::string> reports = filesUnder(root_.path(), "Reports");
  ASSERT_EQ(reports.size(), 1u) << crashed.err;
  // A damaged report beside it, with a lower ID: dropped, and no obstacle to the good one.
  const fs::path good(reports[0]);
  const std::string name = good.filename();
  const std::string corruptName = name.substr(0, name.rfind('-') + 1) + "0000000000000001.json";
  std::ofstream(good.parent_path() / corruptName) << "{\"report\": {\"id\": ";
  const std::size_t before = server_.requests().size();
  const double crashTime = static_cast<double>(std::time(nullptr));

  const auto second = launch("start");
  ASSERT_EQ(second.status, 0) << second.err;
  const auto requests = server_.requests();
  std::vector<json> events = payloads(requests, before, "event");
  ASSERT_EQ(events.size(), 1u) << second.err;
  for (std::size_t i = before; i < requests.size(); ++i) {
    EXPECT_EQ(requests[i].method, "POST");
    EXPECT_EQ(requests[i].path, "/api/42/envelope/");
    EXPECT_NE(requests[i].header("X-Dozidi-Auth").find("pub"), std::string::npos);
  }

  const json& event = events[0];
  EXPECT_EQ(event["level"], "fatal");
  ASSERT_EQ(event["exception"]["values"].size(), 1u) << event.dump(2);
  const json& exception = event["exception"]["values"][0];
  EXPECT_EQ(exception["type"], c->type);
  EXPECT_EQ(exception["value"].get<std::string>().rfind(c->valueStart, 0), 0u) << exception["value"];
  if (std::string(c->mode) == "null") {
    EXPECT_TRUE(exception["value"].get<std::string>().ends_with("Attempted to dereference null pointer."))
        << exception["value"];
  }
  EXPECT_EQ(exception["mechanism"]["type"], std::string(c->mode) == "throw" ? "cpp_exception" : "signal");
  EXPECT_EQ(exception["mechanism"]["handled"], false);
  EXPECT_EQ(exception["mechanism"]["meta"]["signal"]["name"], c->signal == SIGSEGV ? "SIGSEGV" : "SIGABRT");
  EXPECT_TRUE(exception["mechanism"]["meta"]["mach_exception"].contains("name"));
  // Outermost first: the crashing function is the last frame of the executable's frames.
  const json& frames = exception["stacktrace"]["frames"];
  ASSERT_FALSE(frames.empty()) << exception.dump(2);
  std::string lastInApp;
  for (const json& frame : frames) {
    if (frame.value("in_app", false)) lastInApp = frame.value("function", "");
  }
  EXPECT_EQ(lastInApp, c->function) << frames.dump(2);

  bool executableListed = false;
  for (const json& image : event["debug_meta"]["images"]) {
    if (image.value("name", "") == "next_launch_child") {
      executableListed = true;
      EXPECT_EQ(image["type"], "elf");
      EXPECT_FALSE(image.value("code_id", "").empty());
      EXPECT_FALSE(image.value("debug_id", "").empty());
    }
  }
  EXPECT_TRUE(executableListed) << event["debug_meta"].dump(2);

  EXPECT_EQ(event["tags"]["launch"], "one");
  EXPECT_EQ(event["extra"]["answer"], 7);
  EXPECT_EQ(event["user"]["id"], "user-1");
  bool crumbFound = false;
  for (const json& crumb : event["breadcrumbs"]) crumbFound |= crumb.value("message", "") == "before the crash";
  EXPECT_TRUE(crumbFound) << event["breadcrumbs"].dump(2);
  EXPECT_NEAR(event["timestamp"].get<double>(), crashTime, 2.5);
  EXPECT_EQ(event["contexts"]["os"]["name"], "Linux");

  // The report is gone; launch 1's session arrived as crashed; the previous app state is launch 1's.
  EXPECT_TRUE(filesUnder(root_.path(), "Reports").empty());
  bool crashedSession = false;
  for (const json& session : payloads(requests, 0, "session")) crashedSession |= session.value("status", "") == "crashed";
  EXPECT_TRUE(crashedSession);
  bool previousState = false;
  for (const auto& entry : fs::recursive_directory_iterator(root_.path())) {
    if (entry.path().filename() != "previous.app.state") continue;
    previousState = json::parse(testing_support::readText(entry.path()))["release_name"] == "next-launch@1.0";
  }
  EXPECT_TRUE(previousState);

  const std::size_t afterSecond = server_.requests().size();
  ASSERT_EQ(launch("start").status, 0);
  EXPECT_TRUE(payloads(server_.requests(), afterSecond, "event").empty());
}

TEST_F(ReporterNextLaunchFullDiskTests, CrashOnAFullDiskLeavesAnEmptyReportThatTheNextStartDrops) {
  // No file may grow in the crashing launch. (That the crash state is still recorded in place on
  // a full disk, where existing blocks can be rewritten, is a test of the crash state itself.)
  const auto crashed = launch("null-full-disk");
  ASSERT_EQ(crashed.status, 128 + SIGSEGV) << crashed.err;
  const std::vector<std::string> reports = filesUnder(root_.path(), "Reports");
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(fs::file_size(reports[0]), 0u);

  const auto second = launch("start");
  ASSERT_EQ(second.status, 0) << second.err;
  EXPECT_TRUE(filesUnder(root_.path(), "Reports").empty());
  EXPECT_NE((second.out + second.err).find("unreadable"), std::string::npos) << second.out << second.err;
  EXPECT_TRUE(payloads(server_.requests(), 0, "event").empty());
}

TEST_F(ReporterNextLaunchRateLimitTests, CrashAnswered429WaitsOnDiskAndTheNextStartDeliversItOnce) {
  ASSERT_EQ(launch("null").status, 128 + SIGSEGV);
  const std::size_t before = server_.requests().size();
  // Every category is limited for a minute after this answer: nothing more goes in launch 2.
  server_.enqueue({.status = 429, .headers = {{"Retry-After", "60"}}});

  const auto second = launch("start");
  ASSERT_EQ(second.status, 0) << second.err;
  const auto refused = server_.requests();
  ASSERT_EQ(refused.size(), before + 1) << second.err;
  ASSERT_EQ(payloads(refused, before, "event").size(), 1u) << second.err;
  EXPECT_TRUE(filesUnder(root_.path(), "Reports").empty());
  EXPECT_EQ(filesUnder(root_.path(), "envelopes").size(), 1u);

  const auto third = launch("start");
  ASSERT_EQ(third.status, 0) << third.err;
  const std::vector<json> delivered = payloads(server_.requests(), before + 1, "event");
  ASSERT_EQ(delivered.size(), 1u) << third.err;
  EXPECT_EQ(delivered[0]["level"], "fatal");
  EXPECT_EQ(delivered[0]["exception"]["values"][0]["type"], "SIGSEGV");
  EXPECT_TRUE(filesUnder(root_.path(), "envelopes").empty());

  const std::size_t afterThird = server_.requests().size();
  ASSERT_EQ(launch("start").status, 0);
  EXPECT_TRUE(payloads(server_.requests(), afterThird, "event").empty());
}

INSTANTIATE_TEST_SUITE_P(Crashes, ReporterNextLaunchTests, ::testing::Values("null", "abort", "throw"),
                         [](const auto& info) { return std::string(info.param); });

}  // namespace
