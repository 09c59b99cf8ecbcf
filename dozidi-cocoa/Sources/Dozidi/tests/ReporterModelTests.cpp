#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "JSONText.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiMeasurementUnit.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiMechanism.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiMessage.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiNSError.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiRequest.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiSdkInfo.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiUserFeedback.h"
#include "dozidi-cocoa/Sources/Dozidi/Scope/DozidiUser.h"

using foundation::Date;
using foundation::Dictionary;
using foundation::Number;
using foundation::Value;

namespace {

const Date kWholeSecond = Date::fromTimeIntervalSince1970(1'700'000'000);

TEST(ReporterModelTests, SmallRecordsWriteTheirJSON) {
  struct Case {
    const char* name;
    std::function<Dictionary()> serialize;
    const char* expected;
  };
  const Case cases[] = {
      {"sdk info", [] { return DozidiSdkInfo("dozidi.cocoa", "7.31.5").serialize(); },
       R"({"sdk":{"name":"dozidi.cocoa","version":"7.31.5"}})"},
      {"integer measurement with unit",
       [] { return DozidiMeasurementValue(Number::fromInt64(5), DozidiMeasurementUnitDuration::millisecond()).serialize(); },
       R"({"value":5,"unit":"millisecond"})"},
      {"fraction measurement with the empty unit",
       [] { return DozidiMeasurementValue(Number::fromDouble(0.25), DozidiMeasurementUnit::none()).serialize(); },
       R"({"value":0.25,"unit":""})"},
      {"measurement without unit", [] { return DozidiMeasurementValue(Number::fromUInt64(7)).serialize(); },
       R"({"value":7})"},
      {"user with only an id", [] { return DozidiUser::initWithUserId("42")->serialize(); }, R"({"id":"42"})"},
      {"user with every field",
       [] {
         auto user = DozidiUser::initWithUserId("1");
         user->setEmail("a@b.c");
         user->setUsername("ann");
         user->setIpAddress("{{auto}}");
         user->setSegment("paid");
         user->setData(Dictionary{{"__dozidi_hidden", 1}, {"when", kWholeSecond}});
         return user->serialize();
       },
       R"({"id":"1","email":"a@b.c","username":"ann","ip_address":"{{auto}}","segment":"paid",
           "data":{"when":"2023-11-14T22:13:20.000Z"}})"},
      {"empty user", [] { return DozidiUser::create()->serialize(); }, "{}"},
      {"feedback with nothing set",
       [] {
         return DozidiUserFeedback::initWithEventId(DozidiId::initWithUUIDString("E621E1F8-C36C-495A-93FC-0C247A3E6E5F"))
             ->serialize();
       },
       R"({"event_id":"e621e1f8c36c495a93fc0c247a3e6e5f","email":"","name":"","comments":""})"},
      {"mechanism with a type only", [] { return DozidiMechanism::initWithType("signalhandler")->serialize(); },
       R"({"type":"signalhandler"})"},
      {"mechanism with everything",
       [] {
         auto mechanism = DozidiMechanism::initWithType("mach");
         mechanism->desc = "EXC_BAD_ACCESS";
         mechanism->handled = false;
         mechanism->helpLink = "https://example.com";
         mechanism->data = Dictionary{{"relevant_address", "0x0"}, {"__dozidi_x", 1}};
         mechanism->meta = DozidiMechanismMeta::create();
         mechanism->meta->signal = Dictionary{{"number", 11}, {"name", "SIGSEGV"}};
         mechanism->meta->machException = Dictionary{{"exception", 1}, {"when", kWholeSecond}};
         mechanism->meta->error = DozidiNSError("NSURLErrorDomain", -1001);
         return mechanism->serialize();
       },
       R"({"type":"mach","description":"EXC_BAD_ACCESS","handled":false,"help_link":"https://example.com",
           "data":{"relevant_address":"0x0"},
           "meta":{"signal":{"number":11,"name":"SIGSEGV"},
                   "mach_exception":{"exception":1,"when":"2023-11-14T22:13:20.000Z"},
                   "ns_error":{"domain":"NSURLErrorDomain","code":-1001}}})"},
      {"empty mechanism meta", [] { return DozidiMechanismMeta::create()->serialize(); }, "{}"},
      {"message",
       [] {
         auto message = DozidiMessage::initWithFormatted("hello 42");
         message->setMessage("hello %d");
         message->setParams(std::vector<std::string>{"42"});
         return message->serialize();
       },
       R"({"formatted":"hello 42","message":"hello %d","params":["42"]})"},
      {"message without text", [] { return DozidiMessage::initWithFormatted(std::nullopt)->serialize(); }, "{}"},
      {"request with every field",
       [] {
         auto request = DozidiRequest::create();
         request->setBodySize(Number::fromUInt64(1ull << 32));
         request->setCookies("a=b");
         request->setFragment("top");
         request->setHeaders(Dictionary{{"Accept", "*/*"}, {"Date", kWholeSecond}});
         request->setMethod("GET");
         request->setQueryString("q=1");
         request->setUrl("https://example.com/x");
         return request->serialize();
       },
       R"({"body_size":4294967296,"cookies":"a=b","fragment":"top","headers":{"Accept":"*/*","Date":"2023-11-14T22:13:20.000Z"},
           "method":"GET","query_string":"q=1","url":"https://example.com/x"})"},
      {"request with size 0 and a url",
       [] {
         auto request = DozidiRequest::create();
         request->setBodySize(Number::fromInt64(0));
         request->setUrl("https://example.com");
         return request->serialize();
       },
       R"({"url":"https://example.com"})"},
      {"error model keeps negative codes", [] { return DozidiNSError("Domain", -7).serialize(); },
       R"({"domain":"Domain","code":-7})"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_JSON_EQ(c.serialize(), c.expected);
  }
}

TEST(ReporterModelTests, NamedUnitsKeepTheirFamilyAndText) {
  struct Case {
    std::shared_ptr<DozidiMeasurementUnit> unit;
    const char* text;
    const char* family;
  };
  const Case cases[] = {
      {DozidiMeasurementUnit::none(), "", "duration"},
      {DozidiMeasurementUnitDuration::nanosecond(), "nanosecond", "duration"},
      {DozidiMeasurementUnitDuration::week(), "week", "duration"},
      {DozidiMeasurementUnitInformation::bit(), "bit", "information"},
      {DozidiMeasurementUnitInformation::kibibyte(), "kibibyte", "information"},
      {DozidiMeasurementUnitInformation::exbibyte(), "exbibyte", "information"},
      {DozidiMeasurementUnitFraction::ratio(), "ratio", "fraction"},
      {DozidiMeasurementUnitFraction::percent(), "percent", "fraction"},
      {DozidiMeasurementUnit::initWithUnit("frames"), "frames", "custom"},
  };
  const auto family = [](const DozidiMeasurementUnit& unit) -> std::string {
    if (dynamic_cast<const DozidiMeasurementUnitDuration*>(&unit)) return "duration";
    if (dynamic_cast<const DozidiMeasurementUnitInformation*>(&unit)) return "information";
    if (dynamic_cast<const DozidiMeasurementUnitFraction*>(&unit)) return "fraction";
    return "custom";
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(c.unit->unit(), c.text);
    EXPECT_EQ(family(*c.unit), c.family);
    auto copy = c.unit->copy();
    EXPECT_NE(copy, c.unit);
    EXPECT_EQ(copy->unit(), c.text);
    EXPECT_EQ(family(*copy), c.family);
  }
}

TEST(ReporterModelTests, UserEqualityHashAndCopy) {
  auto a = DozidiUser::initWithUserId("1");
  auto b = DozidiUser::initWithUserId("1");
  for (auto* user : {a.get(), b.get()}) {
    user->setEmail("x@y.z");
    user->setData(Dictionary{{"k", 1}});
  }
  EXPECT_TRUE(a->isEqualToUser(b.get()));
  EXPECT_EQ(a->hash(), b->hash());
  EXPECT_FALSE(a->isEqualToUser(nullptr));

  struct Case {
    const char* name;
    std::function<void(DozidiUser&)> change;
  };
  const Case cases[] = {
      {"email none against empty", [](DozidiUser& u) { u.setEmail(std::nullopt); }},
      {"email empty", [](DozidiUser& u) { u.setEmail(""); }},
      {"other segment", [](DozidiUser& u) { u.setSegment("s"); }},
      {"other data", [](DozidiUser& u) { u.setData(Dictionary{{"k", 2}}); }},
      {"no data", [](DozidiUser& u) { u.setData(std::nullopt); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto changed = a->copy();
    ASSERT_TRUE(changed->isEqualToUser(a.get()));
    c.change(*changed);
    EXPECT_FALSE(changed->isEqualToUser(a.get()));
    EXPECT_FALSE(a->isEqualToUser(changed.get()));
  }
  auto noEmail = a->copy();
  noEmail->setEmail(std::nullopt);
  auto emptyEmail = a->copy();
  emptyEmail->setEmail("");
  EXPECT_FALSE(noEmail->isEqualToUser(emptyEmail.get()));

  auto copy = a->copy();
  a->setData(Dictionary{{"new", true}});
  EXPECT_EQ(copy->data(), (Dictionary{{"k", 1}}));
}

TEST(ReporterModelTests, MessagesAreCutAt8192UnitsOnACharacterBoundary) {
  const auto repeat = [](const std::string& text, int times) {
    std::string result;
    for (int i = 0; i < times; ++i) result += text;
    return result;
  };
  const std::string exact(8192, 'a');
  const std::string longer(10000, 'b');
  const std::string clef = "\xF0\x9D\x84\x9E";  // one character, two UTF-16 units
  struct Case {
    const char* name;
    std::string input;
    std::string expected;
  };
  const Case cases[] = {
      {"exactly the limit", exact, exact},
      {"longer text", longer, longer.substr(0, 8192)},
      {"pair that would be split is dropped whole", std::string(8191, 'c') + clef + "d", std::string(8191, 'c')},
      {"pair that fits is kept", std::string(8190, 'c') + clef + "d", std::string(8190, 'c') + clef},
      {"two-byte characters count one unit each", repeat("\xC3\xA9", 8193), repeat("\xC3\xA9", 8192)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto message = DozidiMessage::initWithFormatted(c.input);
    message->setMessage(c.input);
    EXPECT_EQ(message->formatted(), c.expected);
    EXPECT_EQ(message->message(), c.expected);
  }
}

TEST(ReporterModelTests, MessageDescriptionNamesClassAddressAndContent) {
  auto message = DozidiMessage::initWithFormatted("hi");
  const std::string description = message->description();
  EXPECT_TRUE(description.starts_with("<DozidiMessage: 0x")) << description;
  EXPECT_NE(description.find("hi"), std::string::npos) << description;
}

}  // namespace
