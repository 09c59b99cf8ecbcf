#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "JSONText.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiEvent.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiFrame.h"
#include "dozidi-cocoa/Sources/Dozidi/Scope/DozidiBreadcrumb.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiDebugImageProvider.h"
#include "testing/ScopedManualClock.h"

using foundation::Array;
using foundation::Date;
using foundation::Dictionary;
using foundation::Number;

namespace {

const Date kWholeSecond = Date::fromTimeIntervalSince1970(1'700'000'000);
const Date kEventTime = Date::fromTimeIntervalSince1970(1'700'000'000.25);
const char* kEventId = "e621e1f8c36c495a93fc0c247a3e6e5f";

std::shared_ptr<DozidiEvent> eventAt(DozidiEventLevel level) {
  auto event = DozidiEvent::initWithLevel(level);
  event->eventId = DozidiId::initWithUUIDString(kEventId);
  event->timestamp = kEventTime;
  return event;
}

std::shared_ptr<DozidiBreadcrumb> crumb(const char* message, DozidiEventLevel level = DozidiEventLevel::Info) {
  auto result = DozidiBreadcrumb::initWithLevel(level, "ui");
  result->timestamp = kWholeSecond;
  result->message = message;
  return result;
}

TEST(ReporterEventTests, EventKeysArePresentOrAbsentAsTheirFieldsAre) {
  struct Case {
    const char* name;
    std::function<std::shared_ptr<DozidiEvent>()> make;
    const char* expected;
  };
  const Case cases[] = {
      {"level none has no level and no optional keys", [] { return eventAt(DozidiEventLevel::None); },
       R"({"event_id":"e621e1f8c36c495a93fc0c247a3e6e5f","timestamp":1700000000.25,"platform":"cocoa"})"},
      {"platform is always cocoa, empty lists leave their keys out",
       [] {
         auto event = eventAt(DozidiEventLevel::Error);
         event->platform = "other";
         event->exceptions.emplace();
         event->threads.emplace();
         event->debugMeta.emplace();
         event->breadcrumbs.emplace();
         return event;
       },
       R"({"event_id":"e621e1f8c36c495a93fc0c247a3e6e5f","timestamp":1700000000.25,"platform":"cocoa",
           "level":"error"})"},
      {"the hidden transaction extra names the transaction and is never sent",
       [] {
         auto event = eventAt(DozidiEventLevel::Info);
         event->extra = Dictionary{{"__dozidi_transaction", "Checkout"}, {"kept", 1}};
         return event;
       },
       R"({"event_id":"e621e1f8c36c495a93fc0c247a3e6e5f","timestamp":1700000000.25,"platform":"cocoa",
           "level":"info","transaction":"Checkout","extra":{"kept":1}})"},
      {"a transaction without a start uses its timestamp",
       [] {
         auto event = eventAt(DozidiEventLevel::None);
         event->type = "transaction";
         event->transaction = "Launch";
         return event;
       },
       R"({"event_id":"e621e1f8c36c495a93fc0c247a3e6e5f","timestamp":1700000000.25,"platform":"cocoa",
           "transaction":"Launch","type":"transaction","start_timestamp":1700000000.25})"},
      {"every field",
       [] {
         auto event = eventAt(DozidiEventLevel::Fatal);
         event->sdk = Dictionary{{"name", "dozidi.cocoa"}, {"when", kWholeSecond}};
         event->releaseName = "app@1";
         event->dist = "7";
         event->environment = "production";
         event->fingerprint = std::vector<std::string>{"a", "b"};
         event->user = DozidiUser::initWithUserId("u");
         event->modules = Dictionary{{"m", "1.0"}};
         event->breadcrumbs = std::vector{crumb("tap")};
         event->serializedBreadcrumbs = Array{Dictionary{{"message", "from disk"}}};
         event->context = Dictionary{{"app", Dictionary{{"started", kWholeSecond}}}};
         event->message = DozidiMessage::initWithFormatted("boom");
         event->logger = "log";
         event->serverName = "host";
         event->startTimestamp = kEventTime;
         event->exceptions = std::vector{DozidiException::initWithValue("v", "T")};
         event->threads = std::vector{DozidiThread::initWithThreadId(std::nullopt)};
         auto image = DozidiDebugMeta::create();
         image->name = "/usr/lib/libc.so.6";
         event->debugMeta = std::vector{image};
         event->tags = Dictionary{{"t", "1"}};
         return event;
       },
       R"({"event_id":"e621e1f8c36c495a93fc0c247a3e6e5f","timestamp":1700000000.25,"platform":"cocoa",
           "level":"fatal","sdk":{"name":"dozidi.cocoa","when":"2023-11-14T22:13:20.000Z"},"release":"app@1",
           "dist":"7","environment":"production","fingerprint":["a","b"],"user":{"id":"u"},"modules":{"m":"1.0"},
           "breadcrumbs":[{"level":"info","timestamp":"2023-11-14T22:13:20.000Z","category":"ui","message":"tap"},
                          {"message":"from disk"}],
           "contexts":{"app":{"started":"2023-11-14T22:13:20.000Z"}},"message":{"formatted":"boom"},
           "logger":"log","server_name":"host","threads":{"values":[{"id":99}]},
           "exception":{"values":[{"value":"v","type":"T"}]},"debug_meta":{"images":[{"name":"libc.so.6"}]},
           "tags":{"t":"1"}})"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_JSON_EQ(c.make()->serialize(), c.expected);
  }
}

TEST(ReporterEventTests, AnEventWithoutTimestampTakesTheReportersClockWhenSerialised) {
  testing_support::ScopedManualClock clock;
  auto event = DozidiEvent::create();
  event->timestamp.reset();
  clock->advance(5);
  EXPECT_EQ(event->serialize()["timestamp"].asDouble(), dispatch::ManualClock::kDefaultWallTime + 5);
  EXPECT_EQ(event->timestamp, Date::fromTimeIntervalSince1970(dispatch::ManualClock::kDefaultWallTime + 5));
}

TEST(ReporterEventTests, RecordsOfAnEventWriteTheirJSON) {
  auto frame = DozidiFrame::create();
  frame->instructionAddress = "0x10";
  frame->lineNumber = Number::fromInt64(12);
  frame->inApp = Number::fromBool(true);
  auto exception = DozidiException::initWithValue("bad", "std::runtime_error");
  exception->mechanism = DozidiMechanism::initWithType("cpp_exception");
  exception->threadId = Number::fromUInt64(3);
  exception->stacktrace = DozidiStacktrace::initWithFrames({frame}, Dictionary{{"lr", "0x1"}});
  auto thread = DozidiThread::initWithThreadId(Number::fromInt64(0));
  thread->name = "main";
  thread->crashed = false;
  thread->current = true;
  auto image = DozidiDebugMeta::create();
  image->type = "apple";
  image->imageAddress = "0x0000000000001000";
  image->imageSize = 4096;

  EXPECT_JSON_EQ(exception->serialize(), R"({"value":"bad","type":"std::runtime_error",
      "mechanism":{"type":"cpp_exception"},"thread_id":3,
      "stacktrace":{"frames":[{"function":"<redacted>","lineno":12,"instruction_addr":"0x10","in_app":true}],
                    "registers":{"lr":"0x1"}}})");
  EXPECT_JSON_EQ(thread->serialize(), R"({"id":0,"crashed":false,"current":true,"name":"main"})");
  EXPECT_JSON_EQ(image->serialize(), R"({"type":"apple","image_addr":"0x0000000000001000","image_size":4096})");
  EXPECT_JSON_EQ(DozidiStacktrace::initWithFrames({}, {})->serialize(), "{}");
}

TEST(ReporterEventTests, BreadcrumbsSerialiseTheirLevelAlwaysAndCompareByContent) {
  auto none = crumb("m", DozidiEventLevel::None);
  none->data = Dictionary{{"__dozidi_x", 1}, {"k", "v"}};
  EXPECT_JSON_EQ(none->serialize(), R"({"level":"none","timestamp":"2023-11-14T22:13:20.000Z","category":"ui",
                                        "message":"m","data":{"k":"v"}})");

  auto a = crumb("same");
  auto b = crumb("same");
  EXPECT_TRUE(a->isEqualToBreadcrumb(b.get()));
  EXPECT_EQ(a->hash(), b->hash());
  b->data = Dictionary{{"k", 1}};
  EXPECT_FALSE(a->isEqualToBreadcrumb(b.get()));
  a->data = Dictionary{{"k", 1}};
  EXPECT_TRUE(a->isEqualToBreadcrumb(b.get()));
  EXPECT_EQ(a->hash(), b->hash());
  b->timestamp = kWholeSecond.addingTimeInterval(1);
  EXPECT_FALSE(a->isEqualToBreadcrumb(b.get()));
  EXPECT_FALSE(a->isEqualToBreadcrumb(nullptr));
  EXPECT_NE(a->description().find("<DozidiBreadcrumb: 0x"), std::string::npos);
}

TEST(ReporterEventTests, FrameRemoverCutsTheReportersOwnInnermostFrames) {
  const auto frames = [](std::vector<const char*> packages) {
    std::vector<std::shared_ptr<DozidiFrame>> result;
    for (const char* package : packages) {
      auto frame = DozidiFrame::create();
      if (package) frame->package = package;
      result.push_back(frame);
    }
    return result;
  };
  struct Case {
    const char* name;
    std::vector<const char*> packages;
    std::size_t firstKept;
  };
  const Case cases[] = {
      {"own frame first", {"/opt/app/lib/libdozidi.so", "/opt/app/bin/app"}, 1},
      {"upper case name", {"/opt/LibDozidi.so", "/opt/LibDozidi.so", "/bin/app"}, 2},
      {"a home folder named after the reporter is not the reporter",
       {"/Users/dozidi/app/bin/app", "/bin/other"}, 0},
      {"nor is any folder named after it", {"/work/dozidi-cocoa/bin/app", "/bin/other"}, 0},
      {"no package", {nullptr, "/opt/libdozidi.so"}, 0},
      {"all own frames come back unchanged", {"/a/libdozidi.so", "/b/libdozidi.so"}, 0},
      {"no frames", {}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto input = frames(c.packages);
    const auto output = DozidiFrameRemover::removeNonSdkFrames(input);
    ASSERT_EQ(output.size(), input.size() - c.firstKept);
    if (!output.empty()) {
      EXPECT_EQ(output.front(), input[c.firstKept]);
    }
  }
}

class FixedImages : public DozidiBinaryImageProvider {
 public:
  std::int64_t getImageCount() override { return 2; }
  DozidiBinaryImage getBinaryImage(std::int64_t index) override {
    if (index == 0) return {0x1000, 0, 0x2000, "/usr/bin/app", uuid_.data()};
    return {0x7f0000001000, 0x4000, 16, "/usr/lib/libdozidi.so", nullptr};
  }

 private:
  std::array<std::uint8_t, 16> uuid_{0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                                     0x88, 0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff};
};

TEST(ReporterEventTests, DebugImagesListEveryImageOrThoseTheThreadsPointInto) {
  DozidiDebugImageProvider provider(std::make_shared<FixedImages>());
  const auto images = provider.getDebugImages();
  ASSERT_EQ(images.size(), 2u);
  EXPECT_JSON_EQ(images[0]->serialize(), R"({"uuid":"00112233-4455-6677-8899-AABBCCDDEEFF","type":"apple",
      "image_addr":"0x0000000000001000","image_size":8192,"name":"app"})");
  EXPECT_JSON_EQ(images[1]->serialize(), R"({"type":"apple","image_addr":"0x00007f0000001000","image_size":16,
      "name":"libdozidi.so","image_vmaddr":"0x0000000000004000"})");

  auto frame = DozidiFrame::create();
  frame->imageAddress = "0x00007f0000001000";
  auto thread = DozidiThread::initWithThreadId(Number::fromInt64(1));
  thread->stacktrace = DozidiStacktrace::initWithFrames({frame, DozidiFrame::create()}, {});
  const auto used = provider.getDebugImagesForThreads({thread, DozidiThread::initWithThreadId(std::nullopt)});
  ASSERT_EQ(used.size(), 1u);
  EXPECT_EQ(used[0]->name, "/usr/lib/libdozidi.so");
}

}  // namespace
