#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "IOTracingFixture.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiSpanRecord.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/IO/DozidiFileIOTrackingIntegration.h"
#include "dozidi-cocoa/Sources/Dozidi/Performance/IO/DozidiNSDataTracker.h"
#include "dozidi-cocoa/Sources/Dozidi/Scope/DozidiScope.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiFileManager.h"
#include "platform/foundation/DataFile.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/URL.h"
#include "platform/runtime/NSData.h"

namespace {

using foundation::Data;
using foundation::Error;
using foundation::URL;
using runtime::NSData;

class PerformanceFileIOTests : public performance_test::IOTracingFixture<DozidiFileIOTrackingIntegration> {
 protected:
  void SetUp() override {
    IOTracingFixture::SetUp();
    install(&DozidiOptions::enableFileIOTracking);
    folder = root_ + "/files";
    ASSERT_TRUE(foundation::FileManager::defaultManager().createDirectory(folder, foundation::Intermediates::Yes).ok());
  }

  static bool write(const Data& data, const std::string& path) {
    return NSData::writeData(data, path, foundation::DataWritingAtomic, nullptr);
  }
  static std::optional<Data> read(const std::string& path, Error* error = nullptr) {
    return NSData::dataWithContentsOfFile(path, error);
  }

  std::string folder;
};

TEST_F(PerformanceFileIOTests, WritesAndReadsInsideATransactionAreChildSpans) {
  auto transaction = bindTransaction();
  const std::string path = folder + "/b.txt";
  struct Case {
    const char* name;
    std::size_t size;
    const char* description;
  };
  for (const Case& c : {Case{"1536 bytes", 1536, "b.txt (1 KB)"}, Case{"empty", 0, "b.txt"}}) {
    SCOPED_TRACE(c.name);
    const auto before = transaction->children().size();
    ASSERT_TRUE(write(Data(std::string(c.size, 'x')), path));
    ASSERT_EQ(transaction->children().size(), before + 1);
    auto span = transaction->children().back();
    EXPECT_EQ(span->context()->operation(), "file.write");
    EXPECT_EQ(span->context()->spanDescription(), c.description);
    EXPECT_TRUE(span->isFinished());
    EXPECT_EQ(span->context()->status(), DozidiSpanStatus::Ok);
    EXPECT_EQ((*span->data())["file.path"], foundation::Value(path));
    EXPECT_EQ((*span->data())["file.size"], foundation::Value(std::uint64_t{c.size}));
  }

  ASSERT_TRUE(write(Data(std::string(1536, 'y')), path));
  const auto before = transaction->children().size();
  // The short form sends the form with options through the table: still one span.
  NSData data;
  ASSERT_EQ(data.initWithContentsOfFile(path), &data);
  EXPECT_EQ(data.length(), 1536u);
  EXPECT_FALSE(DozidiNSDataTracker::trackingCounterOfCurrentThread().has_value());
  ASSERT_EQ(transaction->children().size(), before + 1);
  auto span = transaction->children().back();
  EXPECT_EQ(span->context()->operation(), "file.read");
  EXPECT_EQ(span->context()->spanDescription(), "b.txt");  // a read's size is not known when it starts
  EXPECT_EQ((*span->data())["file.size"], foundation::Value(std::uint64_t{1536}));
}

TEST_F(PerformanceFileIOTests, FailedReadFinishesItsSpanWithSizeZeroAndPassesTheErrorOn) {
  auto transaction = bindTransaction();
  Error error("", 0);
  EXPECT_FALSE(read(folder + "/missing.txt", &error).has_value());
  EXPECT_EQ(error.code(), static_cast<std::int64_t>(foundation::CocoaError::FileReadNoSuchFile));
  ASSERT_EQ(transaction->children().size(), 1u);
  auto span = transaction->children().front();
  EXPECT_TRUE(span->isFinished());
  EXPECT_EQ(span->context()->status(), DozidiSpanStatus::Ok);
  EXPECT_EQ((*span->data())["file.size"], foundation::Value(std::uint64_t{0}));
}

TEST_F(PerformanceFileIOTests, WriteThatCallsAnotherTracedWriteGivesOneSpan) {
  auto transaction = bindTransaction();
  NSData data(Data("abc"));
  // writeToFile:atomically: sends writeToFile:options:error: through the table.
  ASSERT_TRUE(data.writeToFile(folder + "/nested.txt", true));
  EXPECT_FALSE(DozidiNSDataTracker::trackingCounterOfCurrentThread().has_value());
  ASSERT_EQ(transaction->children().size(), 1u);
  EXPECT_EQ(transaction->children()[0]->context()->operation(), "file.write");
  EXPECT_EQ(transaction->children()[0]->context()->spanDescription(), "nested.txt (3 bytes)");
}

TEST_F(PerformanceFileIOTests, UntracedOperationsStillRun) {
  const std::string path = folder + "/plain.txt";
  // No transaction bound.
  EXPECT_TRUE(write(Data("1"), path));
  auto transaction = bindTransaction();

  const std::string own = hub->getClient()->fileManager()->dozidiPath();
  ASSERT_FALSE(own.empty());
  EXPECT_TRUE(write(Data("2"), own + "/own.txt"));
  EXPECT_EQ(read(own + "/own.txt"), Data("2"));

  Error error("", 0);
  NSData remote;
  EXPECT_EQ(remote.initWithContentsOfURL(*URL::parse("http://127.0.0.1:9/file.txt"), 0, &error), nullptr);

  integration.uninstall();
  EXPECT_TRUE(write(Data("3"), path));
  EXPECT_EQ(read(path), Data("3"));
  ASSERT_TRUE(integration.installWithOptions(*options));
  EXPECT_TRUE(transaction->children().empty());

  // A folder beside the SDK's own that shares its name as a prefix is the app's, and traced.
  const std::string sibling = own + "-sibling";
  ASSERT_TRUE(foundation::FileManager::defaultManager().createDirectory(sibling, foundation::Intermediates::Yes).ok());
  EXPECT_TRUE(write(Data("4"), sibling + "/app.txt"));
  NSData fromURL;
  ASSERT_EQ(fromURL.initWithContentsOfURL(URL::fileURL(sibling + "/app.txt"), 0, nullptr), &fromURL);
  EXPECT_EQ(fromURL.data(), Data("4"));
  ASSERT_EQ(transaction->children().size(), 2u);
  EXPECT_EQ(transaction->children()[1]->context()->operation(), "file.read");
  EXPECT_EQ((*transaction->children()[1]->data())["file.path"], foundation::Value(sibling + "/app.txt"));
}

TEST_F(PerformanceFileIOTests, OperationsOnSeveralThreadsEachGetTheirSpan) {
  auto transaction = bindTransaction();
  constexpr int kThreads = 4;
  constexpr int kRounds = 10;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([this, t] {
      const std::string path = folder + "/thread" + std::to_string(t);
      for (int i = 0; i < kRounds; ++i) {
        NSData data(Data(std::to_string(i)));
        EXPECT_TRUE(data.writeToFile(path, true));
        NSData read;
        EXPECT_EQ(read.initWithContentsOfFile(path), &read);
      }
      EXPECT_FALSE(DozidiNSDataTracker::trackingCounterOfCurrentThread().has_value());
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(transaction->children().size(), static_cast<std::size_t>(kThreads * kRounds * 2));
}

}  // namespace
