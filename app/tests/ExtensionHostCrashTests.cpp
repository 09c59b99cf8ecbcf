// The extension host reports a crash of the plug-in it runs: its crash handler is in place before
// the request, and the next host's start sends the report and the session the crash ended.

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiEnvelope.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiSerialization.h"
#include "platform/foundation/JSONSerialization.h"
#include "platform/foundation/Value.h"
#include "testing/Gzip.h"
#include "testing/IngestionServer.h"
#include "testing/ProgramRun.h"
#include "testing/TemporaryFolder.h"

namespace {

using foundation::Value;

constexpr const char* kInfo = R"({"CFBundleIdentifier": "com.morvit.Fendrel.CrashingPlugIn",
  "CFBundleName": "CrashingPlugIn", "CFBundleVersion": "1", "CFBundleShortVersionString": "1.0"})";

/// Every item of type `type` that the server received, parsed.
std::vector<Value> receivedItems(const testing_support::IngestionServer& server, const std::string& type) {
  std::vector<Value> items;
  for (const auto& request : server.requests()) {
    auto envelope = DozidiSerialization::envelopeWithData(testing_support::gunzip(request.body).value_or(""));
    if (!envelope) continue;
    for (const auto& item : envelope->items()) {
      if (item->header().type != type) continue;
      if (auto parsed = foundation::JSONSerialization::JSONObjectWithData(item->data().bytes())) items.push_back(*parsed);
    }
  }
  return items;
}

TEST(ExtensionHostCrashTest, APlugInCrashInTheRequestIsSentByTheNextHostWithItsCrashedSession) {
  testing_support::IngestionServer ingestion;
  testing_support::TemporaryFolder work("extension-host-crash");
  const std::string bundle = work.file("CrashingPlugIn.appex");
  std::filesystem::create_directories(bundle);
  std::ofstream(bundle + "/Info.json") << kInfo;
  auto host = [&](const char* crash) {
    const auto environment = testing_support::environmentWith({
        {"FENDREL_DSN", ingestion.dsn("0123456789abcdef0123456789abcdef", "/42")},
        {"FENDREL_DEVICE_ROOT", work.file("device")},
        {"FENDREL_TEST_PLUGIN_CRASH", crash},
    });
    return testing_support::runProgram({FENDREL_EXTENSION_HOST, FENDREL_CRASHING_PLUGIN, bundle}, environment,
                                       work.path());
  };

  // The first host dies in the request, on a fresh device root, without answering.
  const auto crashed = host("1");
  ASSERT_EQ(crashed.status, 128 + SIGSEGV) << crashed.err;
  EXPECT_EQ(crashed.out, "");

  // The next one answers, and its start sends the report.
  const auto next = host("0");
  ASSERT_EQ(next.status, 0) << next.err;
  EXPECT_NE(next.out.find("no rules today"), std::string::npos) << next.out;
  ASSERT_TRUE(ingestion.waitForRequests(1, std::chrono::seconds(30)));

  const auto events = receivedItems(ingestion, "event");
  ASSERT_EQ(events.size(), 1u);
  const Value& exception = events[0]["exception"]["values"][0];
  EXPECT_EQ(exception["type"].asString(), "SIGSEGV");
  EXPECT_EQ(exception["mechanism"]["handled"].asBool(), false);
  EXPECT_EQ(events[0]["release"].asString(), "com.morvit.Fendrel.CrashingPlugIn@1.0+1");
  // The crashed thread's stack ends in the plug-in, below its entry point. The innermost
  // function is local to the plug-in: it is named when the recorder had read the plug-in's full
  // symbol table before the crash (its cached-data thread does that at its own pace), else the
  // frame gives the plug-in alone.
  std::vector<std::string> innermost;
  for (const Value& thread : *events[0]["threads"]["values"].array()) {
    if (thread["crashed"].asBool() != true) continue;
    const Value& frames = thread["stacktrace"]["frames"];
    const std::size_t count = frames.array() ? frames.array()->size() : 0;
    if (count < 2) continue;
    innermost.push_back(frames[count - 2]["function"].asString().value_or("?"));
    innermost.push_back(frames[count - 1]["package"].asString().value_or("?"));
    const std::string function = frames[count - 1]["function"].asString().value_or("readThroughNull");
    EXPECT_NE(function.find("readThroughNull"), std::string::npos) << function;
  }
  EXPECT_EQ(innermost, (std::vector<std::string>{"BrowserExtensionBeginRequest", FENDREL_CRASHING_PLUGIN}));

  // The session the crash cut short arrives as crashed (the flush at the host's end sent it).
  std::vector<std::string> statuses;
  for (const Value& session : receivedItems(ingestion, "session")) {
    statuses.push_back(session["status"].asString().value_or("?"));
  }
  EXPECT_NE(std::find(statuses.begin(), statuses.end(), "crashed"), statuses.end());
}

}  // namespace
