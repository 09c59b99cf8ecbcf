// The delivery installation (key paths, property validation, report fields), the report sink's
// answer without a client, and the scope observer that mirrors the scope for crash time.
#include <gtest/gtest.h>

#include <cstring>

#include "DebugLogDeviceRoot.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiSDK.h"
#include "dozidi-cocoa/Sources/Dozidi/Integrations/DozidiCrashInstallation.h"
#include "dozidi-cocoa/Sources/Dozidi/Integrations/DozidiCrashIntegration.h"
#include "dozidi-cocoa/Sources/Dozidi/Integrations/DozidiCrashReportSink.h"
#include "dozidi-cocoa/Sources/Dozidi/Integrations/DozidiCrashWrapper.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiDispatchQueueWrapper.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiInAppLogic.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/DozidiCrashScopeMirror.h"

namespace {

using foundation::Dictionary;
using foundation::Value;

class RunAtOnce final : public DozidiDispatchQueueWrapper {
 public:
  RunAtOnce() : DozidiDispatchQueueWrapper("run-at-once") {}
  void dispatchAsyncWithBlock(std::function<void()> block) override { block(); }
};

struct NoCrash : DozidiCrashWrapper {
  double durationFromCrashStateInitToLastCrash() override { return 0; }
};

TEST(ReporterCrashInstallationTests, KeyPathsAddressTheUserSection) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {{"", ""}, {"/report/id", "/report/id"}, {"a/b", "user/a/b"}, {"a", "user/a"}};
  for (const auto& c : cases) EXPECT_EQ(DozidiCrashInstallation::makeKeyPath(c.in), c.out) << c.in;
  EXPECT_EQ(DozidiCrashInstallation::makeKeyPaths({"x", "/y"}), (std::vector<std::string>{"user/x", "/y"}));
}

class TwoRequired final : public DozidiCrashInstallation {
 public:
  TwoRequired() : DozidiCrashInstallation({"token", "url"}) {}
  std::string className() const override { return "TwoRequired"; }

 protected:
  std::optional<std::optional<Value>> valueForProperty(const std::string& name) const override {
    if (name == "token") return std::optional<Value>();  // a nil property
    return std::nullopt;                                  // no such property
  }
};

TEST(ReporterCrashInstallationTests, ValidationNamesEveryMissingPropertyAndStopsTheSend) {
  TwoRequired installation;
  const auto error = installation.validateProperties();
  ASSERT_TRUE(error);
  EXPECT_EQ(error->domain(), "TwoRequired");
  EXPECT_EQ(error->localizedDescription(),
            "Installation properties failed validation: token (is nil), url (property not found)");
  bool called = false;
  installation.sendAllReportsWithCompletion([&](std::optional<foundation::Array>, bool completed, std::optional<foundation::Error> e) {
    called = true;
    EXPECT_FALSE(completed);
    EXPECT_TRUE(e);
  });
  EXPECT_TRUE(called);
}

TEST(ReporterCrashInstallationTests, FieldsKeepTheirSlotAndAClearedValueIsNotWritten) {
  DozidiCrashInstallation installation({});
  installation.reportFieldForPropertySetKey("build", "build");
  installation.reportFieldForPropertySetValue("build", Value(Dictionary{{"b", 1}, {"a", true}}));
  DozidiCrashHandlerData* data = installation.crashHandlerData();
  ASSERT_EQ(data->reportFieldsCount, 1);
  EXPECT_STREQ(data->reportFields[0]->key, "build");
  EXPECT_STREQ(data->reportFields[0]->value, "{\n    \"a\": true,\n    \"b\": 1\n}");
  // A value the codec cannot write leaves the previous one.
  installation.reportFieldForPropertySetValue("build", Value(foundation::Error("E", 1)));
  EXPECT_STREQ(data->reportFields[0]->value, "{\n    \"a\": true,\n    \"b\": 1\n}");
  installation.reportFieldForPropertySetValue("build", std::nullopt);
  EXPECT_EQ(data->reportFields[0]->value, nullptr);
  installation.reportFieldForPropertySetKey("other", "other");
  EXPECT_EQ(installation.reportFieldForProperty("build")->index(), 0);
  EXPECT_EQ(data->reportFieldsCount, 2);
}

TEST(ReporterCrashInstallationTests, SinkWithoutAClientKeepsTheReports) {
  DozidiSDK::setCurrentHub(nullptr);
  auto sink = std::make_shared<DozidiCrashReportSink>(std::make_shared<DozidiInAppLogic>(std::vector<std::string>{},
                                                                                         std::vector<std::string>{}),
                                                      std::make_shared<NoCrash>(), std::make_shared<RunAtOnce>());
  bool called = false;
  sink->filterReports(foundation::Array{Value(Dictionary{{"crash", Dictionary{}}})},
                      [&](std::optional<foundation::Array> sent, bool completed, std::optional<foundation::Error> error) {
                        called = true;
                        EXPECT_FALSE(completed);
                        EXPECT_TRUE(error);
                        EXPECT_TRUE(!sent || sent->empty());
                      });
  EXPECT_TRUE(called);
}

std::string mirrored(const std::atomic<char*>& field) {
  const char* text = field.load();
  return text ? text : "<none>";
}

TEST(ReporterCrashInstallationTests, ScopeObserverMirrorsValuesAndClearsEmptyOnes) {
  DozidiCrashScopeObserver observer(10);
  const CrashScopeMirror* mirror = crashscopemirror_get();
  observer.setLevel(DozidiEventLevel::Fatal);
  EXPECT_EQ(mirrored(mirror->level), "\"fatal\"");
  observer.setLevel(DozidiEventLevel::None);
  EXPECT_EQ(mirrored(mirror->level), "<none>");
  observer.setTags(Dictionary{{"b", "2"}, {"a", "1"}});
  EXPECT_EQ(mirrored(mirror->tags), R"({"a":"1","b":"2"})");
  observer.setTags(Dictionary{});
  EXPECT_EQ(mirrored(mirror->tags), "<none>");
  observer.setDist("7");
  EXPECT_EQ(mirrored(mirror->dist), "\"7\"");
  // A value that cannot be encoded keeps the mirrored one.
  observer.setExtras(Dictionary{{"ok", 1}});
  observer.setExtras(Dictionary{{"bad", Value(foundation::Error("E", 1))}});
  EXPECT_EQ(mirrored(mirror->extras), R"({"ok":1})");
  observer.clear();
  EXPECT_EQ(mirrored(mirror->dist), "<none>");
}

}  // namespace
