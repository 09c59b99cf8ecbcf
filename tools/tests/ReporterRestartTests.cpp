// The crash reporter across process restarts: what one process could not send, the next sends
// first. Each process is the fendrel-report tool.
#include <gtest/gtest.h>
#include <zlib.h>

#include <chrono>
#include <string>
#include <vector>

#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiEnvelope.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiSerialization.h"
#include "platform/foundation/JSONSerialization.h"
#include "testing/Gzip.h"
#include "testing/IngestionServer.h"
#include "testing/ProgramRun.h"
#include "testing/TemporaryFolder.h"

namespace {

std::string gunzip(const std::string& bytes) { return testing_support::gunzip(bytes).value_or(""); }

class ReporterRestartTests : public ::testing::Test {
 protected:
  testing_support::ProgramRun report(std::vector<std::string> args) {
    args.insert(args.begin(), {FENDREL_REPORT_TOOL, "--dsn", server.dsn("0123456789abcdef0123456789abcdef", "/42")});
    return testing_support::runProgram(args, testing_support::environmentWith({{"FENDREL_DEVICE_ROOT", folder.path()}}),
                                       folder.path());
  }
  /// Per upload: the event's message, or "error <code>" for an error event; "-" for others.
  std::vector<std::string> sent() const {
    std::vector<std::string> result;
    for (const auto& request : server.requests()) {
      auto envelope = DozidiSerialization::envelopeWithData(gunzip(request.body));
      if (!envelope) {
        result.push_back("<unreadable>");
        continue;
      }
      std::string text = "-";
      for (const auto& item : envelope->items()) {
        if (item->header().type != "event") continue;
        auto event = foundation::JSONSerialization::JSONObjectWithData(item->data().view());
        if (auto message = (*event)["message"]["formatted"].asString()) text = *message;
        if (auto value = (*event)["exception"]["values"][0]["value"].asString()) text = "error " + *value;
      }
      result.push_back(text);
    }
    return result;
  }

  testing_support::TemporaryFolder folder{"fendrel-report-test"};
  testing_support::IngestionServer server;
};

TEST_F(ReporterRestartTests, WhatOneProcessCouldNotSendTheNextSendsFirst) {
  server.stop();
  auto first = report({"--messages", "2", "--flush", "20"});
  ASSERT_EQ(first.status, 0) << first.err;
  ASSERT_TRUE(server.start());
  auto second = report({"--errors", "1", "--flush", "20"});
  ASSERT_EQ(second.status, 0) << second.err;
  EXPECT_EQ(sent(), (std::vector<std::string>{"message 1", "message 2", "error Code: 1"}));
}

TEST_F(ReporterRestartTests, BadArgumentsAreRefused) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"--messages", "many"}, {"--errors", "-1"}, {"--flush", "soon"}, {"--what", "1"}, {"--messages"}}) {
    auto run = report(args);
    EXPECT_EQ(run.status, 2) << args[0];
  }
  EXPECT_TRUE(server.requests().empty());
}

}  // namespace
