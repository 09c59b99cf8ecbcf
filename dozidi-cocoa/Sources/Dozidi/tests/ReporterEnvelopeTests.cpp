#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "DebugLogDeviceRoot.h"
#include "JSONText.h"
#include "LogCapture.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiError.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiEvent.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiSession.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiUserFeedback.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiClientReport.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiEnvelope.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiSerialization.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/JSONSerialization.h"

using foundation::Data;
using foundation::Dictionary;

namespace {

class ReporterEnvelopeTests : public DebugLogDeviceRoot {
 protected:

  std::string writeFile(const std::string& name, const std::string& bytes) {
    const std::string path = root_ + "/" + name;
    EXPECT_TRUE(foundation::FileManager::defaultManager().writeFileAtomically(path, bytes).ok());
    return path;
  }

  static bool logged(const LogCapture& log, const std::string& text) {
    for (const auto& line : log.lines()) {
      if (line.find(text) != std::string::npos) return true;
    }
    return false;
  }
};

std::shared_ptr<const DozidiEnvelope> roundTrip(const DozidiEnvelope& envelope) {
  auto text = DozidiSerialization::dataWithEnvelope(envelope, nullptr);
  EXPECT_TRUE(text.has_value());
  return text ? DozidiSerialization::envelopeWithData(text->view()) : nullptr;
}

TEST_F(ReporterEnvelopeTests, EveryItemConstructorReadsBackWithItsTypeLengthAndPayload) {
  auto event = DozidiEvent::initWithLevel(DozidiEventLevel::Error);
  auto transaction = DozidiEvent::initWithLevel(DozidiEventLevel::Info);
  transaction->type = "transaction";
  auto session = DozidiSession::initWithReleaseName("app@1");
  auto feedback = DozidiUserFeedback::initWithEventId(event->eventId);
  feedback->setComments("line one\nline two");
  DozidiClientReport report({DozidiDiscardedEvent(DozidiDiscardReason::CacheOverflow, DozidiDataCategory::Error, 2)});
  auto bytes = DozidiAttachment::initWithData(Data(std::string("a\nb\0c", 5)), "log.txt", "text/plain");
  auto file = DozidiAttachment::initWithPath(writeFile("trace.bin", "\n\n{}"));

  const DozidiEnvelopeItems items = {
      DozidiEnvelopeItem::initWithEvent(*event),
      DozidiEnvelopeItem::initWithEvent(*transaction),
      DozidiEnvelopeItem::initWithSession(*session),
      DozidiEnvelopeItem::initWithUserFeedback(*feedback),
      DozidiEnvelopeItem::initWithClientReport(report),
      DozidiEnvelopeItem::initWithAttachment(*bytes, 100),
      DozidiEnvelopeItem::initWithAttachment(*file, 100),
      std::make_shared<const DozidiEnvelopeItem>(DozidiEnvelopeItemHeader{"profile", 0, {}, {}}, Data()),
  };
  const std::vector<std::string> types = {"event",         "transaction", "session",    "user_report",
                                          "client_report", "attachment",  "attachment", "profile"};
  auto trace = std::make_shared<DozidiTraceContext>(DozidiId(), "key", "app@1", "prod", "Checkout", "paid", "0.5");
  const DozidiEnvelope envelope(DozidiEnvelopeHeader(event->eventId, trace), items);

  auto read = roundTrip(envelope);
  ASSERT_TRUE(read);
  EXPECT_EQ(read->header().eventId(), event->eventId);
  EXPECT_EQ(read->header().sdkInfo(), DozidiSdkInfo("dozidi.cocoa", "7.31.5"));
  ASSERT_TRUE(read->header().traceContext());
  EXPECT_JSON_EQ(read->header().traceContext()->serialize(), sortedJSON(trace->serialize()));
  ASSERT_EQ(read->items().size(), items.size());
  for (std::size_t i = 0; i < items.size(); ++i) {
    SCOPED_TRACE(types[i]);
    const auto& written = *items[i];
    const auto& back = *read->items()[i];
    EXPECT_EQ(written.header().type, types[i]);
    EXPECT_EQ(back.header().type, types[i]);
    EXPECT_EQ(back.header().length, written.data().size());
    EXPECT_EQ(written.header().length, written.data().size());
    EXPECT_EQ(back.data(), written.data());
    EXPECT_EQ(back.header().filename, written.header().filename);
    EXPECT_EQ(back.header().contentType, written.header().contentType);
  }
  EXPECT_EQ(read->items()[6]->header().filename, "trace.bin");
  EXPECT_EQ(read->items()[6]->header().contentType, "application/octet-stream");
  auto clientReport = foundation::JSONSerialization::JSONObjectWithData(read->items()[4]->data().view());
  ASSERT_TRUE(clientReport.ok());
  EXPECT_EQ((*clientReport)["timestamp"].asDouble(), report.timestamp().timeIntervalSince1970());
  EXPECT_JSON_EQ((*clientReport)["discarded_events"],
                 R"([{"reason":"cache_overflow","category":"error","quantity":2}])");
}

TEST_F(ReporterEnvelopeTests, EnvelopeInitialisersSetTheHeaderId) {
  auto event = DozidiEvent::initWithLevel(DozidiEventLevel::Warning);
  EXPECT_EQ(DozidiEnvelope::initWithEvent(*event)->header().eventId(), event->eventId);
  auto feedback = DozidiUserFeedback::initWithEventId(event->eventId);
  EXPECT_EQ(DozidiEnvelope::initWithUserFeedback(*feedback)->items()[0]->header().type, "user_report");

  auto none = DozidiEnvelope::initWithSessions({});
  EXPECT_FALSE(none->header().eventId());
  EXPECT_TRUE(none->items().empty());
  auto two = DozidiEnvelope::initWithSessions({DozidiSession::initWithReleaseName("a"), DozidiSession::initWithReleaseName("b")});
  ASSERT_EQ(two->items().size(), 2u);
  EXPECT_EQ(DozidiSerialization::sessionWithData(two->items()[1]->data().view())->releaseName(), "b");

  auto path = DozidiAttachment::initWithPath("/var/log/app/log.txt");
  EXPECT_EQ(path->filename(), "log.txt");
  EXPECT_EQ(path->contentType(), "application/octet-stream");
}

TEST_F(ReporterEnvelopeTests, AnEventJSONCannotHoldBecomesAWarningAboutIt) {
  auto event = DozidiEvent::initWithLevel(DozidiEventLevel::Error);
  event->releaseName = "app@1";
  event->extra = Dictionary{{"bad", std::numeric_limits<double>::quiet_NaN()}};
  event->message = DozidiMessage::initWithFormatted("boom");
  LogCapture log;
  auto item = DozidiEnvelopeItem::initWithEvent(*event);
  EXPECT_EQ(item->header().type, "event");
  auto payload = foundation::JSONSerialization::JSONObjectWithData(item->data().view());
  ASSERT_TRUE(payload.ok());
  EXPECT_EQ((*payload)["level"].asString(), "warning");
  EXPECT_EQ((*payload)["release"].asString(), "app@1");
  EXPECT_NE((*payload)["message"]["formatted"].asString()->find("JSON conversion error for event with message: '"),
            std::string::npos);
  EXPECT_TRUE(logged(log, "Invalid JSON: "));
}

TEST_F(ReporterEnvelopeTests, AttachmentsUpToTheMaximumAreKeptOneByteMoreIsDropped) {
  constexpr std::uint64_t kMax = 64;
  const std::string exact(kMax, 'x');
  const std::string over(kMax + 1, 'x');
  struct Case {
    const char* name;
    std::shared_ptr<DozidiAttachment> attachment;
    bool kept;
    const char* line;
  };
  const Case cases[] = {
      {"bytes of the maximum", DozidiAttachment::initWithData(Data(exact), "a"), true, nullptr},
      {"bytes one over", DozidiAttachment::initWithData(Data(over), "a"), false,
       "[Dozidi] [debug] Dropping attachment with filename 'a', because the size of the passed data with 65 bytes is "
       "bigger than the maximum allowed attachment size of 64 bytes."},
      {"file of the maximum", DozidiAttachment::initWithPath(writeFile("exact", exact)), true, nullptr},
      {"file one over", DozidiAttachment::initWithPath(writeFile("over", over)), false,
       "[Dozidi] [debug] Dropping attachment, because the size of the it located at '"},
      {"missing file", DozidiAttachment::initWithPath(root_ + "/missing.txt"), false,
       "[Dozidi] [error] Couldn't check file size of attachment with path: "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    LogCapture log;
    auto item = DozidiEnvelopeItem::initWithAttachment(*c.attachment, kMax);
    EXPECT_EQ(item != nullptr, c.kept);
    if (c.kept) {
      EXPECT_EQ(item->data().size(), kMax);
    } else {
      ASSERT_EQ(log.lines().size(), 1u);
      EXPECT_EQ(log.lines()[0].rfind(c.line, 0), 0u) << log.lines()[0];
    }
  }
}

TEST_F(ReporterEnvelopeTests, TheWriterStatesEachPayloadsRealLength) {
  // A header that declares the wrong length must not corrupt the file for the next item.
  const DozidiEnvelope envelope(
      DozidiEnvelopeHeader(std::nullopt, std::nullopt, nullptr),
      {std::make_shared<const DozidiEnvelopeItem>(DozidiEnvelopeItemHeader{"event", 2, {}, {}}, Data(std::string("{\"a\":1}"))),
       std::make_shared<const DozidiEnvelopeItem>(DozidiEnvelopeItemHeader{"session", 100, {}, {}}, Data(std::string("{}")))});
  auto text = DozidiSerialization::dataWithEnvelope(envelope, nullptr);
  ASSERT_TRUE(text);
  EXPECT_EQ(text->bytes(), "{}\n{\"type\":\"event\",\"length\":7}\n{\"a\":1}\n{\"type\":\"session\",\"length\":2}\n{}");
  auto read = DozidiSerialization::envelopeWithData(text->view());
  ASSERT_TRUE(read);
  ASSERT_EQ(read->items().size(), 2u);
  EXPECT_EQ(read->items()[1]->data().bytes(), "{}");
}

TEST_F(ReporterEnvelopeTests, HostileEnvelopeTextNeverReadsOutsideTheData) {
  struct Case {
    const char* name;
    std::string text;
    int items;  // -1: the whole envelope is rejected
    const char* line;
  };
  const std::string ok = "{\"type\":\"event\",\"length\":2}\nab";
  const Case cases[] = {
      {"empty", "", -1, "Invalid envelope. No header found."},
      {"header without newline", "{}", -1, "Invalid envelope. No header found."},
      {"header only", "{}\n", -1, "Envelope has no items."},
      {"header not JSON", "{\n" + ok, -1, "Failed to parse envelope header "},
      {"header an array", "[]\n" + ok, -1, "Failed to parse envelope header "},
      {"item header not JSON", "{}\n{\"type\":\n", -1, "Failed to parse envelope item header "},
      {"item header an array after a good item", "{}\n" + ok + "\n[1]\n", -1, "Failed to parse envelope item header "},
      {"two trailing newlines", "{}\n" + ok + "\n\n", -1, "Failed to parse envelope item header "},
      {"first item without type", "{}\n{\"length\":0}\n", -1, "Envelope item type is required."},
      {"type not a text", "{}\n{\"type\":5,\"length\":0}\n", -1, "Envelope item type is required."},
      {"length past the end", "{}\n" + ok + "\n{\"type\":\"event\",\"length\":10}\nabc", 1, "runs past the end"},
      {"huge length", "{}\n" + ok + "\n{\"type\":\"event\",\"length\":18446744073709551615}\nabc", 1, "runs past the end"},
      {"negative length", "{}\n" + ok + "\n{\"type\":\"event\",\"length\":-1}\nabc", 1, "not a non-negative integer"},
      {"fractional length", "{}\n{\"type\":\"event\",\"length\":1.5}\nabc", -1, "not a non-negative integer"},
      {"length a text", "{}\n{\"type\":\"event\",\"length\":\"2\"}\nab", -1, "not a non-negative integer"},
      {"header at the end with a length", "{}\n" + ok + "\n{\"type\":\"event\",\"length\":3}", 1,
       "Envelope item has no data but header indicates it's length is 3."},
      {"header at the end without length", "{}\n" + ok + "\n{\"type\":\"event\"}", 2, nullptr},
      {"third item without type keeps two", "{}\n" + ok + "\n" + ok + "\n{\"length\":0}\n", 2, "Envelope item type is required."},
      {"trailing newline", "{}\n" + ok + "\n", 1, nullptr},
      {"no separator before the next header", "{}\n" + ok + ok, 2, nullptr},
      {"payload holding newlines", "{}\n{\"type\":\"event\",\"length\":3}\n\n\n\n", 1, nullptr},
      {"nested too deep", "{}\n" + std::string(100000, '[') + "\n", -1, "Failed to parse envelope item header "},
      {"bad event id", "{\"event_id\":\"zz\",\"sdk\":5,\"trace\":[]}\n" + ok, 1, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    LogCapture log;
    // A copy of exactly the text's bytes, so that AddressSanitizer sees any read past the end.
    std::unique_ptr<char[]> exact(new char[c.text.size() + 1]);
    std::copy(c.text.begin(), c.text.end(), exact.get());
    auto envelope = DozidiSerialization::envelopeWithData(std::string_view(exact.get(), c.text.size()));
    EXPECT_EQ(envelope ? static_cast<int>(envelope->items().size()) : -1, c.items);
    if (c.line) {
      EXPECT_TRUE(logged(log, c.line));
    }
  }
}

TEST_F(ReporterEnvelopeTests, TheReaderKeepsHeaderFieldsAsTheyAre) {
  const std::string text =
      R"({"event_id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","sdk":{"name":"x"},"trace":{"public_key":"k","user":{"segment":5},"user_segment":"ignored"}})"
      "\n{\"type\":\"attachment\",\"filename\":\"only-name\",\"length\":1}\na";
  auto envelope = DozidiSerialization::envelopeWithData(text);
  ASSERT_TRUE(envelope);
  EXPECT_EQ(envelope->header().eventId()->dozidiIdString(), "e621e1f8c36c495a93fc0c247a3e6e5f");
  EXPECT_EQ(envelope->header().sdkInfo(), DozidiSdkInfo("x", ""));
  ASSERT_TRUE(envelope->header().traceContext());
  EXPECT_EQ(envelope->header().traceContext()->userSegment(), std::nullopt);
  EXPECT_EQ(envelope->header().traceContext()->traceId(), DozidiId::empty());
  // A filename without a content type is dropped.
  EXPECT_EQ(envelope->items()[0]->header().filename, std::nullopt);

  auto bare = DozidiSerialization::envelopeWithData("{\"trace\":{\"trace_id\":\"x\"}}\n{\"type\":\"event\",\"length\":0}");
  ASSERT_TRUE(bare);
  EXPECT_FALSE(bare->header().eventId());
  EXPECT_FALSE(bare->header().sdkInfo());
  EXPECT_FALSE(bare->header().traceContext());
  EXPECT_EQ(DozidiSerialization::dataWithEnvelope(*bare, nullptr)->bytes(), "{}\n{\"type\":\"event\",\"length\":0}\n");
}

TEST_F(ReporterEnvelopeTests, JSONHelperAndLevelReading) {
  foundation::Error error("", 0);
  LogCapture log;
  EXPECT_FALSE(DozidiSerialization::dataWithJSONObject(Dictionary{{"d", foundation::Date()}}, &error));
  EXPECT_TRUE(error.is(kDozidiErrorDomain, 104));
  EXPECT_EQ(error.localizedDescription(), "Event cannot be converted to JSON");
  EXPECT_TRUE(error.underlyingError().has_value());
  EXPECT_TRUE(logged(log, "[Dozidi] [error] Invalid JSON: "));
  EXPECT_EQ(DozidiSerialization::dataWithJSONObject(Dictionary{{"a", 1}}, nullptr)->bytes(), R"({"a":1})");

  struct Case {
    const char* text;
    DozidiEventLevel level;
  };
  const Case cases[] = {{R"({"level":"none"})", DozidiEventLevel::None},
                        {R"({"level":"warning"})", DozidiEventLevel::Warning},
                        {R"({"level":"fatal"})", DozidiEventLevel::Fatal},
                        {R"({"level":"Fatal"})", DozidiEventLevel::Error},
                        {R"({})", DozidiEventLevel::Error},
                        {"not json", DozidiEventLevel::Error}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(DozidiSerialization::levelFromData(c.text), c.level);
  }
}

}  // namespace

namespace {

TEST(ReporterBaggageTests, EncodingKeepsLettersAndSortsEntries) {
  EXPECT_EQ(DozidiSerialization::baggageEncodedDictionary(Dictionary{}), "");
  EXPECT_EQ(DozidiSerialization::baggageEncodedDictionary(Dictionary{{"dozidi-release", "1.0 beta"},
                                                                     {"dozidi-public_key", "k"},
                                                                     {"dozidi-environment", "prod"},
                                                                     {"dozidi-sample_rate", 0.5},
                                                                     {"ünï", "日本/x,y=z"}}),
            "dozidi-environment=prod,dozidi-public_key=k,dozidi-release=1.0%20beta,dozidi-sample_rate=0.5,"
            "ünï=日本%2Fx%2Cy%3Dz");

  // 8192 units in all, each entry's comma counted: an entry that does not fit is left out while a
  // later, shorter one is still taken.
  const std::string big(8000, 'a');
  const std::string tooBig(200, 'b');
  const auto text = DozidiSerialization::baggageEncodedDictionary(
      Dictionary{{"a", big}, {"b", tooBig}, {"c", std::string(100, 'c')}});
  EXPECT_EQ(text, "a=" + big + ",c=" + std::string(100, 'c'));
  EXPECT_LE(text.size(), 8192u);
}

TEST(ReporterBaggageTests, DecodingKeepsWellFormedPairsOnly) {
  EXPECT_EQ(DozidiSerialization::decodeBaggage(""), Dictionary{});
  EXPECT_EQ(DozidiSerialization::decodeBaggage("good=1%20x,noequals,two=equal=signs,bad=ends%"),
            (Dictionary{{"good", "1 x"}}));
  EXPECT_EQ(DozidiSerialization::decodeBaggage(" a=1,b=2=3,c"), (Dictionary{{" a", "1"}}));
  EXPECT_EQ(DozidiSerialization::decodeBaggage("k=1,k=2,j=%ZZ,j=%C3%A9,x=%FF,x=1,x=%E2%82"),
            (Dictionary{{"k", "2"}, {"j", "é"}}));
  const Dictionary original{{"dozidi-release", "1.0 beta/ü"}, {"trace", "a,b=c"}};
  EXPECT_EQ(DozidiSerialization::decodeBaggage(DozidiSerialization::baggageEncodedDictionary(original)), original);
}

}  // namespace
