#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>

#include <map>
#include <string>
#include <vector>

#include "JSONText.h"
#include "LogCapture.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiMigrateSessionInit.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiSession.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiInstallation.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiEnvelope.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiSerialization.h"
#include "dozidi-cocoa/Sources/Dozidi/tests/InstallationTesting.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/tests/TemporaryDeviceRoot.h"
#include "testing/ScopedManualClock.h"

using foundation::Data;
using foundation::Dictionary;

namespace {

class ReporterSessionTests : public foundation::test_support::TemporaryDeviceRoot {
 protected:
  void SetUp() override {
    TemporaryDeviceRoot::SetUp();
    resetCachedInstallationIdForTesting();
  }
  void TearDown() override {
    resetCachedInstallationIdForTesting();
    TemporaryDeviceRoot::TearDown();
  }
  testing_support::ScopedManualClock clock_;
};

TEST_F(ReporterSessionTests, ANewSessionReportsInitOnceAndCountsChanges) {
  auto session = DozidiSession::initWithReleaseName("app@1.0");
  const std::string sid = session->sessionId().uuidString();
  const std::string did = DozidiInstallation::id();
  EXPECT_JSON_EQ(session->serialize(), R"({"sid":")" + sid + R"(","errors":0,"started":"2023-11-14T22:13:20.000Z",
      "init":true,"status":"ok","timestamp":"2023-11-14T22:13:20.000Z","seq":1,"attrs":{"release":"app@1.0"},
      "did":")" + did + R"("})");

  clock_->advance(2.5);
  session->incrementErrors();
  session->setEnvironment("production");
  EXPECT_JSON_EQ(session->serialize(), R"({"sid":")" + sid + R"(","errors":1,"started":"2023-11-14T22:13:20.000Z",
      "status":"ok","timestamp":"2023-11-14T22:13:22.500Z","duration":0,"seq":2,
      "attrs":{"release":"app@1.0","environment":"production"},"did":")" + did + R"("})");

  const auto start = session->started();
  session->endSessionExitedWithTimestamp(start.addingTimeInterval(10));
  session->endSessionAbnormalWithTimestamp(start.addingTimeInterval(20));
  EXPECT_EQ(session->sequence(), 4u);
  EXPECT_EQ(session->status(), DozidiSessionStatus::Abnormal);
  EXPECT_EQ(session->serialize()["timestamp"].asString(), "2023-11-14T22:13:40.000Z");
  EXPECT_EQ(session->serialize()["duration"].asDouble(), 20.0);
  EXPECT_EQ(session->serialize()["status"].asString(), "abnormal");
}

TEST_F(ReporterSessionTests, ReadingASessionRequiresItsKeys) {
  const std::string good =
      R"({"sid":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","started":"2023-11-14T22:13:20.000Z","status":"abnormal",
          "seq":3,"errors":2,"did":"D","init":true,"attrs":{"release":"r","environment":5},
          "timestamp":"2023-11-14T22:13:30Z","duration":10,"user":{"id":"never read"}})";
  auto session = DozidiSerialization::sessionWithData(good);
  ASSERT_TRUE(session);
  EXPECT_EQ(session->status(), DozidiSessionStatus::Abnormal);
  EXPECT_EQ(session->sequence(), 3u);
  EXPECT_EQ(session->errors(), 2u);
  EXPECT_EQ(session->flagInit(), true);
  EXPECT_EQ(session->releaseName(), "r");
  EXPECT_EQ(session->environment(), std::nullopt);
  EXPECT_EQ(session->duration(), 10.0);
  EXPECT_EQ(session->timestamp(), foundation::Date::fromTimeIntervalSince1970(1'700'000'010));
  EXPECT_EQ(session->user(), nullptr);
  // What the session writes, it reads back.
  auto again = DozidiSerialization::sessionWithData(DozidiSerialization::dataWithSession(*session, nullptr)->view());
  ASSERT_TRUE(again);
  EXPECT_EQ(sortedJSON(again->serialize()), sortedJSON(session->serialize()));

  struct Case {
    const char* name;
    const char* key;
    foundation::Value value;
    const char* line;
  };
  const Case cases[] = {
      {"unknown status", "status", "unknown", "Failed to initialize session from dictionary. Dropping it."},
      {"sid not a UUID", "sid", "nope", "Failed to initialize session from dictionary. Dropping it."},
      {"started not a date", "started", "yesterday", "Failed to initialize session from dictionary. Dropping it."},
      {"seq a text", "seq", "3", "Failed to initialize session from dictionary. Dropping it."},
      {"errors negative", "errors", -1, "Failed to initialize session from dictionary. Dropping it."},
      {"no did", "did", foundation::Value(), "Failed to initialize session from dictionary. Dropping it."},
      {"no release", "attrs", Dictionary{}, "Deserialized session doesn't contain a release name. Dropping it."},
      {"empty release", "attrs", Dictionary{{"release", ""}},
       "Deserialized session doesn't contain a release name. Dropping it."},
  };
  const auto base = *foundation::JSONSerialization::JSONObjectWithData(good);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Dictionary json = *base.dictionary();
    json.set(c.key, c.value);
    LogCapture log;
    EXPECT_FALSE(DozidiSerialization::sessionWithData(*foundation::JSONSerialization::dataWithJSONObject(json)));
    ASSERT_FALSE(log.lines().empty());
    EXPECT_EQ(log.lines().back(), std::string("[Dozidi] [error] ") + c.line);
  }
  LogCapture log;
  EXPECT_FALSE(DozidiSerialization::sessionWithData("{"));
  EXPECT_EQ(log.lines().at(0).rfind("[Dozidi] [error] Failed to deserialize session data ", 0), 0u);
}

class ReporterMigrateSessionInitTests : public ReporterSessionTests {
 protected:
  void SetUp() override {
    ReporterSessionTests::SetUp();
    dir_ = root_ + "/envelopes";
    ASSERT_TRUE(foundation::FileManager::defaultManager().createDirectory(dir_, foundation::Intermediates::Yes).ok());
  }

  std::string store(const std::string& name, const DozidiEnvelope& envelope) {
    auto data = DozidiSerialization::dataWithEnvelope(envelope, nullptr);
    EXPECT_TRUE(data);
    EXPECT_TRUE(foundation::FileManager::defaultManager().writeFileAtomically(dir_ + "/" + name, *data).ok());
    return data->bytes();
  }
  std::string contents(const std::string& name) const {
    auto data = foundation::FileManager::defaultManager().readFile(dir_ + "/" + name);
    return data ? data->bytes() : "";
  }
  static std::shared_ptr<const DozidiEnvelopeItem> sessionItem(const DozidiSession& session) {
    return DozidiEnvelopeItem::initWithSession(session);
  }
  static std::shared_ptr<const DozidiEnvelopeItem> eventItem() {
    return std::make_shared<const DozidiEnvelopeItem>(DozidiEnvelopeItemHeader{"event", 0, {}, {}},
                                                      Data(std::string("{\"level\":\"error\"}")));
  }

  std::string dir_;
};

TEST_F(ReporterMigrateSessionInitTests, TheFlagMovesToTheFirstLaterUpdateOfTheSameSession) {
  auto first = DozidiSession::initWithReleaseName("app@1");
  auto update = first->copy();
  update->incrementErrors();
  auto other = DozidiSession::initWithReleaseName("app@1");
  auto later = update->copy();
  later->incrementErrors();

  const auto deleted = DozidiEnvelope::initWithId(std::nullopt, {eventItem(), sessionItem(*first)});
  const std::string a = store("a", DozidiEnvelope(DozidiEnvelopeHeader(std::nullopt), {sessionItem(*other), eventItem()}));
  store("b", DozidiEnvelope(DozidiEnvelopeHeader(DozidiId()), {sessionItem(*update), eventItem(), sessionItem(*other)}));
  const std::string c = store("c", DozidiEnvelope(DozidiEnvelopeHeader(std::nullopt), {sessionItem(*later)}));
  const std::string junk = "not an envelope";
  ASSERT_TRUE(foundation::FileManager::defaultManager().writeFileAtomically(dir_ + "/junk", junk).ok());

  EXPECT_TRUE(DozidiMigrateSessionInit::migrateSessionInit(deleted, dir_, {"missing", "junk", "a", "b", "c"}));

  EXPECT_EQ(contents("a"), a);
  EXPECT_EQ(contents("c"), c);
  EXPECT_EQ(contents("junk"), junk);
  auto rewritten = DozidiSerialization::envelopeWithData(contents("b"));
  ASSERT_TRUE(rewritten);
  ASSERT_EQ(rewritten->items().size(), 3u);
  // The other session's update stays; the flagged update of this session moves to the end.
  EXPECT_EQ(rewritten->items()[0]->header().type, "event");
  auto kept = DozidiSerialization::sessionWithData(rewritten->items()[1]->data().view());
  EXPECT_EQ(kept->sessionId(), other->sessionId());
  EXPECT_EQ(kept->flagInit(), true);
  auto flagged = DozidiSerialization::sessionWithData(rewritten->items()[2]->data().view());
  EXPECT_EQ(flagged->sessionId(), first->sessionId());
  EXPECT_EQ(flagged->flagInit(), true);
  EXPECT_EQ(flagged->errors(), 1u);
}

TEST_F(ReporterMigrateSessionInitTests, NothingToMoveAnswersNo) {
  auto flagged = DozidiSession::initWithReleaseName("app@1");
  auto unflagged = flagged->copy();
  unflagged->changed();
  auto update = flagged->copy();
  update->changed();
  store("b", DozidiEnvelope(DozidiEnvelopeHeader(std::nullopt), {sessionItem(*update)}));
  const std::string before = contents("b");

  EXPECT_FALSE(DozidiMigrateSessionInit::migrateSessionInit(nullptr, dir_, {"b"}));
  EXPECT_FALSE(DozidiMigrateSessionInit::migrateSessionInit(DozidiEnvelope::initWithId(std::nullopt, {eventItem()}),
                                                            dir_, {"b"}));
  EXPECT_FALSE(DozidiMigrateSessionInit::migrateSessionInit(
      DozidiEnvelope::initWithId(std::nullopt, {sessionItem(*unflagged)}), dir_, {"b"}));
  EXPECT_FALSE(DozidiMigrateSessionInit::migrateSessionInit(
      DozidiEnvelope::initWithId(std::nullopt, {sessionItem(*flagged)}), dir_, {}));
  EXPECT_EQ(contents("b"), before);
}

TEST_F(ReporterMigrateSessionInitTests, AFailedRewriteAnswersNoAndLeavesTheFile) {
  auto flagged = DozidiSession::initWithReleaseName("app@1");
  auto update = flagged->copy();
  update->changed();
  const std::string before = store("b", DozidiEnvelope(DozidiEnvelopeHeader(std::nullopt), {sessionItem(*update)}));
  // A file-size limit below the rewritten envelope's size makes the write fail, for any user.
  struct rlimit previous {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &previous), 0);
  struct rlimit small = previous;
  small.rlim_cur = 16;
  auto* previousHandler = ::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  LogCapture log;
  const bool moved = DozidiMigrateSessionInit::migrateSessionInit(
      DozidiEnvelope::initWithId(std::nullopt, {sessionItem(*flagged)}), dir_, {"b"});
  ::setrlimit(RLIMIT_FSIZE, &previous);
  ::signal(SIGXFSZ, previousHandler);
  EXPECT_FALSE(moved);
  EXPECT_EQ(contents("b"), before);
  EXPECT_EQ(foundation::FileManager::defaultManager().contentsOfDirectory(dir_).valueOr({}),
            std::vector<std::string>{"b"});
  ASSERT_EQ(log.lines().size(), 1u);
  EXPECT_EQ(log.lines()[0].rfind(
                "[Dozidi] [error] Could not migrate session init, because storing the updated envelope failed: ", 0),
            0u);
}

}  // namespace
