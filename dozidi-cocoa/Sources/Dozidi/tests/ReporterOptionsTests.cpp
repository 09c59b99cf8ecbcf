#include <gtest/gtest.h>

#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "DebugLogDeviceRoot.h"
#include "LogCapture.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiOptions.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiError.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiMeta.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiDsn.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/URLSession.h"

using foundation::Array;
using foundation::Dictionary;
using foundation::Value;

namespace {

constexpr const char* kDsn = "https://0123456789abcdef0123456789abcdef@ingest.example/42";

// One reading of the options, as a dynamic value for comparison.
using Reading = std::function<Value(const DozidiOptions&)>;

Value strings(const std::vector<std::string>& list) {
  Array array;
  for (const auto& s : list) array.push_back(s);
  return array;
}

Value optionalNumber(const std::optional<double>& rate) { return rate ? Value(*rate) : Value(nullptr); }

class ReporterOptionsTests : public DebugLogDeviceRoot {
 protected:
  void TearDown() override {
    DozidiMeta::setSdkName("dozidi.cocoa");
    DozidiMeta::setVersionString("7.31.5");
    DebugLogDeviceRoot::TearDown();
  }
  void installMainBundle(Dictionary info) {
    ASSERT_TRUE(foundation::DeviceRoot::installBundle("Fendrel.app", info, {}).ok());
    foundation::Bundle::setMainBundleName("Fendrel.app");
  }
};

TEST_F(ReporterOptionsTests, EveryDefault) {
  installMainBundle(Dictionary{{"CFBundleIdentifier", "com.morvit.Fendrel"},
                               {"CFBundleShortVersionString", "2.1"},
                               {"CFBundleVersion", "77"},
                               {"CFBundleExecutable", "Fendrel"}});
  LogCapture capture;
  const auto options = DozidiOptions::create();
  struct Case {
    const char* name;
    Reading read;
    Value expected;
  };
  const Case cases[] = {
      {"debug", [](auto& o) { return Value(o.debug); }, false},
      {"enabled", [](auto& o) { return Value(o.enabled); }, true},
      {"enableCrashHandler", [](auto& o) { return Value(o.enableCrashHandler); }, true},
      {"enableNetworkBreadcrumbs", [](auto& o) { return Value(o.enableNetworkBreadcrumbs); }, true},
      {"enableAutoSessionTracking", [](auto& o) { return Value(o.enableAutoSessionTracking); }, true},
      {"enableOutOfMemoryTracking", [](auto& o) { return Value(o.enableOutOfMemoryTracking); }, true},
      {"attachStacktrace", [](auto& o) { return Value(o.attachStacktrace); }, true},
      {"stitchAsyncCode", [](auto& o) { return Value(o.stitchAsyncCode); }, false},
      {"sendDefaultPii", [](auto& o) { return Value(o.sendDefaultPii); }, false},
      {"enableAutoPerformanceTracking", [](auto& o) { return Value(o.enableAutoPerformanceTracking); }, true},
      {"enableUIViewControllerTracking", [](auto& o) { return Value(o.enableUIViewControllerTracking); }, true},
      {"attachScreenshot", [](auto& o) { return Value(o.attachScreenshot); }, false},
      {"attachViewHierarchy", [](auto& o) { return Value(o.attachViewHierarchy); }, false},
      {"enableUserInteractionTracing", [](auto& o) { return Value(o.enableUserInteractionTracing); }, false},
      {"enablePreWarmedAppStartTracking", [](auto& o) { return Value(o.enablePreWarmedAppStartTracking); }, false},
      {"enableNetworkTracking", [](auto& o) { return Value(o.enableNetworkTracking); }, true},
      {"enableFileIOTracking", [](auto& o) { return Value(o.enableFileIOTracking); }, false},
      {"enableSwizzling", [](auto& o) { return Value(o.enableSwizzling); }, true},
      {"enableCoreDataTracking", [](auto& o) { return Value(o.enableCoreDataTracking); }, false},
      {"enableProfiling", [](auto& o) { return Value(o.enableProfiling_DEPRECATED_TEST_ONLY()); }, false},
      {"sendClientReports", [](auto& o) { return Value(o.sendClientReports); }, true},
      {"enableAppHangTracking", [](auto& o) { return Value(o.enableAppHangTracking); }, false},
      {"enableAutoBreadcrumbTracking", [](auto& o) { return Value(o.enableAutoBreadcrumbTracking); }, true},
      {"enableCaptureFailedRequests", [](auto& o) { return Value(o.enableCaptureFailedRequests); }, false},
      {"dsn", [](auto& o) { return Value(o.dsn() ? Value(*o.dsn()) : Value(nullptr)); }, nullptr},
      {"parsedDsn", [](auto& o) { return Value(o.parsedDsn() != nullptr); }, false},
      {"diagnosticLevel", [](auto& o) { return Value(static_cast<unsigned>(o.diagnosticLevel)); }, 1},
      {"releaseName", [](auto& o) { return Value(o.releaseName.value_or("none")); }, "com.morvit.Fendrel@2.1+77"},
      {"dist", [](auto& o) { return Value(o.dist.has_value()); }, false},
      {"environment", [](auto& o) { return Value(o.environment.has_value()); }, false},
      {"maxBreadcrumbs", [](auto& o) { return Value(o.maxBreadcrumbs); }, 100},
      {"maxCacheItems", [](auto& o) { return Value(o.maxCacheItems); }, 30},
      {"callbacks", [](auto& o) { return Value(o.beforeSend || o.beforeBreadcrumb || o.onCrashedLastRun); }, false},
      {"integrations", [](auto& o) { return strings(o.integrations()); }, strings(DozidiOptions::defaultIntegrations())},
      {"sampleRate", [](auto& o) { return optionalNumber(o.sampleRate()); }, 1.0},
      {"sessionTrackingIntervalMillis", [](auto& o) { return Value(o.sessionTrackingIntervalMillis); }, 30000},
      {"maxAttachmentSize", [](auto& o) { return Value(o.maxAttachmentSize); }, 20971520},
      {"idleTimeout", [](auto& o) { return Value(o.idleTimeout); }, 3.0},
      {"tracesSampleRate", [](auto& o) { return optionalNumber(o.tracesSampleRate()); }, nullptr},
      {"samplers", [](auto& o) { return Value(o.tracesSampler || o.profilesSampler); }, false},
      {"inAppIncludes", [](auto& o) { return strings(o.inAppIncludes); }, Array{"Fendrel"}},
      {"inAppExcludes", [](auto& o) { return strings(o.inAppExcludes); }, Array{}},
      {"urlSessionDelegate", [](auto& o) { return Value(o.urlSessionDelegate.expired()); }, true},
      {"profilesSampleRate", [](auto& o) { return optionalNumber(o.profilesSampleRate()); }, nullptr},
      {"appHangTimeoutInterval", [](auto& o) { return Value(o.appHangTimeoutInterval); }, 2.0},
      {"failedRequestStatusCodes",
       [](auto& o) {
         Array ranges;
         for (const auto& r : o.failedRequestStatusCodes) ranges.push_back(Array{r.min(), r.max()});
         return Value(ranges);
       },
       Array{Array{500, 599}}},
      {"isTracingEnabled", [](auto& o) { return Value(o.isTracingEnabled()); }, false},
      {"isProfilingEnabled", [](auto& o) { return Value(o.isProfilingEnabled()); }, false},
      {"sdkInfo", [](auto& o) { return Value(o.sdkInfo().serialize()); },
       Dictionary{{"sdk", Dictionary{{"name", "dozidi.cocoa"}, {"version", "7.31.5"}}}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.read(*options), c.expected);
  }
  for (const auto* targets : {&options->tracePropagationTargets(), &options->failedRequestTargets()}) {
    ASSERT_EQ(targets->size(), 1u);
    auto expression = dozidiObject<DozidiRegularExpression>((*targets)[0]);
    ASSERT_NE(expression, nullptr);
    EXPECT_EQ(expression->pattern, ".*");
    EXPECT_TRUE(expression->caseInsensitive);
  }
  EXPECT_EQ(DozidiOptions::defaultIntegrations().front(), "DozidiCrashIntegration");
  EXPECT_EQ(DozidiOptions::defaultIntegrations().back(), "DozidiCoreDataTrackingIntegration");
  EXPECT_EQ(DozidiOptions::defaultIntegrations().size(), 14u);
  EXPECT_TRUE(capture.lines().empty());  // the defaults log nothing (no deprecation warning)
}

TEST_F(ReporterOptionsTests, BundleInformationDecidesReleaseAndIncludes) {
  EXPECT_EQ(DozidiOptions::create()->releaseName, std::nullopt);
  EXPECT_TRUE(DozidiOptions::create()->inAppIncludes.empty());
  installMainBundle(Dictionary{{"CFBundleIdentifier", "com.morvit.Fendrel"}, {"CFBundleVersion", "77"}});
  EXPECT_EQ(DozidiOptions::create()->releaseName, "com.morvit.Fendrel@(null)+77");
  EXPECT_TRUE(DozidiOptions::create()->inAppIncludes.empty());
}

TEST_F(ReporterOptionsTests, DictionaryKeys) {
  installMainBundle(Dictionary{{"CFBundleIdentifier", "id"}, {"CFBundleExecutable", "Fendrel"}});
  const DozidiBeforeSendCallback beforeSend = [](auto event) { return event; };
  const DozidiSamplerCallback sampler = [](const DozidiSamplingContext&) { return std::optional<double>(0.5); };
  struct Case {
    const char* name;
    Dictionary entries;
    Reading read;
    Value expected;
  };
  const auto debugFlag = [](auto& o) { return Value(o.debug); };
  const auto enabledFlag = [](auto& o) { return Value(o.enabled); };
  const auto level = [](auto& o) { return Value(static_cast<unsigned>(o.diagnosticLevel)); };
  const auto breadcrumbs = [](auto& o) { return Value(o.maxBreadcrumbs); };
  const Case cases[] = {
      {"bool from number", {{"debug", 1}}, debugFlag, true},
      {"bool from text yes", {{"debug", "yes"}}, debugFlag, true},
      {"bool from text with sign and zeros", {{"debug", "  -007"}}, debugFlag, true},
      {"bool from text false", {{"enabled", "false"}}, enabledFlag, false},
      {"bool from text 0", {{"enabled", "0"}}, enabledFlag, false},
      {"bool null ignored", {{"enabled", nullptr}}, enabledFlag, true},
      {"bool array ignored", {{"enabled", Array{false}}}, enabledFlag, true},
      {"level name", {{"diagnosticLevel", "warning"}}, level, 3},
      {"level other text ignored", {{"diagnosticLevel", "Warning"}}, level, 1},
      {"level number ignored", {{"diagnosticLevel", 4}}, level, 1},
      {"release", {{"release", "r1"}}, [](auto& o) { return Value(*o.releaseName); }, "r1"},
      {"release wrong type", {{"release", 5}}, [](auto& o) { return Value(*o.releaseName); }, "id@(null)+(null)"},
      {"environment and dist", {{"environment", "prod"}, {"dist", "7"}},
       [](auto& o) { return Value(*o.environment + "/" + *o.dist); }, "prod/7"},
      {"32-bit count", {{"maxBreadcrumbs", 7}}, breadcrumbs, 7},
      {"32-bit count largest", {{"maxBreadcrumbs", 4294967295ull}}, breadcrumbs, 4294967295ull},
      {"32-bit count beyond 2^32 keeps default", {{"maxBreadcrumbs", (1ull << 32) + 100}}, breadcrumbs, 100},
      {"count that would wrap keeps default", {{"maxCacheItems", (1ull << 32) + 5}},
       [](auto& o) { return Value(o.maxCacheItems); }, 30},
      {"fractional count is cut", {{"maxCacheItems", 12.7}}, [](auto& o) { return Value(o.maxCacheItems); }, 12},
      {"negative count keeps default", {{"maxCacheItems", -1}}, [](auto& o) { return Value(o.maxCacheItems); }, 30},
      {"count from text ignored", {{"maxAttachmentSize", "5"}}, [](auto& o) { return Value(o.maxAttachmentSize); },
       20971520},
      {"session interval", {{"sessionTrackingIntervalMillis", 1000}},
       [](auto& o) { return Value(o.sessionTrackingIntervalMillis); }, 1000},
      {"callback", {{"beforeSend", dozidiObjectValue(beforeSend)}},
       [](auto& o) { return Value(static_cast<bool>(o.beforeSend)); }, true},
      {"callback of another kind ignored", {{"beforeSend", dozidiObjectValue(sampler)}},
       [](auto& o) { return Value(static_cast<bool>(o.beforeSend)); }, false},
      {"sampler", {{"tracesSampler", dozidiObjectValue(sampler)}},
       [](auto& o) { return Value(o.tracesSampler && o.isTracingEnabled()); }, true},
      {"integrations keep strings only", {{"integrations", Array{"A", 5, "B"}}},
       [](auto& o) { return strings(o.integrations()); }, Array{"A", "B"}},
      {"sample rate clamped to the default", {{"sampleRate", 1.5}}, [](auto& o) { return optionalNumber(o.sampleRate()); },
       1.0},
      {"sample rate kept", {{"sampleRate", 0.25}}, [](auto& o) { return optionalNumber(o.sampleRate()); }, 0.25},
      {"traces rate out of range cleared", {{"tracesSampleRate", 2.0}},
       [](auto& o) { return optionalNumber(o.tracesSampleRate()); }, nullptr},
      {"traces rate kept", {{"tracesSampleRate", 0.5}}, [](auto& o) { return Value(o.isTracingEnabled()); }, true},
      {"profiles rate out of range cleared", {{"profilesSampleRate", -0.1}},
       [](auto& o) { return optionalNumber(o.profilesSampleRate()); }, nullptr},
      {"profiling switch", {{"enableProfiling", true}}, [](auto& o) { return Value(o.isProfilingEnabled()); }, true},
      {"idle timeout", {{"idleTimeout", 1.5}}, [](auto& o) { return Value(o.idleTimeout); }, 1.5},
      {"app hang interval", {{"appHangTimeoutInterval", 4}}, [](auto& o) { return Value(o.appHangTimeoutInterval); },
       4.0},
      {"includes appended", {{"inAppIncludes", Array{"MyKit", 3}}}, [](auto& o) { return strings(o.inAppIncludes); },
       Array{"Fendrel", "MyKit"}},
      {"excludes replaced", {{"inAppExcludes", Array{"X", nullptr, "Y"}}},
       [](auto& o) { return strings(o.inAppExcludes); }, Array{"X", "Y"}},
      {"status code ranges", {{"failedRequestStatusCodes", Array{dozidiObjectValue(DozidiHttpStatusCodeRange(400, 404)), 7}}},
       [](auto& o) {
         Array ranges;
         for (const auto& r : o.failedRequestStatusCodes) ranges.push_back(Array{r.min(), r.max()});
         return Value(ranges);
       },
       Array{Array{400, 404}}},
      {"trace targets kept as given", {{"tracePropagationTargets", Array{"api.example", 5}}},
       [](auto& o) { return Value(o.tracePropagationTargets()); }, Array{"api.example", 5}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Dictionary dict = c.entries;
    dict.set("dsn", kDsn);
    auto options = DozidiOptions::initWithDict(dict, nullptr);
    ASSERT_NE(options, nullptr);
    EXPECT_EQ(c.read(*options), c.expected);
    EXPECT_EQ(options->parsedDsn()->getHash(), DozidiDsn::initWithString(kDsn, nullptr)->getHash());
    EXPECT_EQ(options->dsn(), std::nullopt);  // the dictionary's text itself is not kept
  }
}

TEST_F(ReporterOptionsTests, DictionaryKeysThatLog) {
  struct Case {
    const char* name;
    Dictionary entries;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"integrations are deprecated", {{"integrations", Array{"A"}}},
       {"Setting `DozidiOptions.integrations` is deprecated. Integrations should be enabled or disabled using their "
        "respective `DozidiOptions.enable*` property."}},
      {"unsupported trace targets, one line each", {{"tracePropagationTargets", Array{"a", 1, Array{}}}},
       {"Only instances of NSString and NSRegularExpression are supported inside tracePropagationTargets.",
        "Only instances of NSString and NSRegularExpression are supported inside tracePropagationTargets."}},
      {"unsupported request targets",
       {{"failedRequestTargets", Array{dozidiObjectValue(DozidiRegularExpression{"x", false}), true}}},
       {"Only instances of NSString and NSRegularExpression are supported inside failedRequestTargets."}},
      {"supported targets log nothing", {{"tracePropagationTargets", Array{"a"}}}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    LogCapture capture;
    Dictionary dict = c.entries;
    dict.set("dsn", kDsn);
    ASSERT_NE(DozidiOptions::initWithDict(dict, nullptr), nullptr);
    const auto lines = capture.lines();
    ASSERT_EQ(lines.size(), c.lines.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
      EXPECT_TRUE(std::regex_match(lines[i], std::regex(R"(\[Dozidi\] \[warning\] \[DozidiOptions:\d+\] .*)"))) << lines[i];
      EXPECT_TRUE(lines[i].ends_with("] " + c.lines[i])) << lines[i];
    }
  }
}

TEST_F(ReporterOptionsTests, BadDsnFailsWithItsErrorWithOrWithoutAnErrorSlot) {
  struct Case {
    const char* name;
    Dictionary dict;
    const char* message;
  };
  const Case cases[] = {
      {"no dsn", {}, "URL scheme of DSN is missing"},
      {"dsn of another type", {{"dsn", 42}}, "URL scheme of DSN is missing"},
      {"dsn without project", {{"dsn", "https://key@host/"}}, "Project ID path component of DSN is missing"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    LogCapture capture;
    foundation::Error error("none", 0);
    EXPECT_EQ(DozidiOptions::initWithDict(c.dict, &error), nullptr);
    EXPECT_TRUE(error.is(kDozidiErrorDomain, 100));
    EXPECT_EQ(error.localizedDescription(), c.message);
    EXPECT_EQ(DozidiOptions::initWithDict(c.dict, nullptr), nullptr);
    ASSERT_EQ(capture.lines().size(), 2u);
    EXPECT_TRUE(capture.lines()[0].starts_with("[Dozidi] [error] [DozidiOptions:")) << capture.lines()[0];
    EXPECT_NE(capture.lines()[0].find("] Failed to initialize: "), std::string::npos) << capture.lines()[0];
    EXPECT_NE(capture.lines()[0].find(c.message), std::string::npos) << capture.lines()[0];
  }
}

TEST_F(ReporterOptionsTests, SdkEntryRewritesTheSdkIdentity) {
  auto options = DozidiOptions::initWithDict(Dictionary{{"dsn", kDsn}, {"sdk", Dictionary{{"name", "dozidi.react"}}}}, nullptr);
  ASSERT_NE(options, nullptr);
  EXPECT_EQ(DozidiMeta::sdkName(), "dozidi.react");
  EXPECT_EQ(DozidiMeta::versionString(), "7.31.5");
  EXPECT_EQ(options->sdkInfo(), DozidiSdkInfo("dozidi.react", "7.31.5"));
  ASSERT_NE(DozidiOptions::initWithDict(Dictionary{{"dsn", kDsn}, {"sdk", "ignored"}}, nullptr), nullptr);
  EXPECT_EQ(DozidiMeta::sdkName(), "dozidi.react");
}

TEST_F(ReporterOptionsTests, SettersOfDsnAndRates) {
  auto options = DozidiOptions::create();
  options->setDsn(std::string(" ") + kDsn + "\n");
  ASSERT_NE(options->parsedDsn(), nullptr);
  EXPECT_EQ(options->dsn(), std::string(" ") + kDsn + "\n");

  LogCapture capture;
  options->setDsn("ftp://key@host/42");
  EXPECT_EQ(options->parsedDsn(), nullptr);
  EXPECT_EQ(options->dsn(), std::nullopt);
  ASSERT_EQ(capture.lines().size(), 1u);
  EXPECT_TRUE(capture.lines()[0].starts_with("[Dozidi] [error] [DozidiOptions:"));
  EXPECT_TRUE(capture.lines()[0].ends_with("] Could not parse the DSN: Unrecognized URL scheme in DSN."))
      << capture.lines()[0];

  struct Case {
    std::optional<double> rate;
    std::optional<double> sample;
    std::optional<double> traces;
  };
  const Case cases[] = {{1.5, 1.0, std::nullopt}, {-0.1, 1.0, std::nullopt}, {0.0, 0.0, 0.0},
                        {1.0, 1.0, 1.0},          {std::nullopt, std::nullopt, std::nullopt}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.rate.value_or(-99));
    options->setSampleRate(c.rate);
    options->setTracesSampleRate(c.rate);
    options->setProfilesSampleRate(c.rate);
    EXPECT_EQ(options->sampleRate(), c.sample);
    EXPECT_EQ(options->tracesSampleRate(), c.traces);
    EXPECT_EQ(options->profilesSampleRate(), c.traces);
  }
  options->setTracesSampleRate(0.0);
  EXPECT_FALSE(options->isTracingEnabled());
}

TEST_F(ReporterOptionsTests, IsBlockKnowsTheCallbacksOnly) {
  const DozidiOnCrashedLastRunCallback onCrash = [](auto) {};
  EXPECT_TRUE(DozidiOptions::isBlock(dozidiObjectValue(onCrash)));
  EXPECT_FALSE(DozidiOptions::isBlock(dozidiObjectValue(DozidiRegularExpression{".*", true})));
  EXPECT_FALSE(DozidiOptions::isBlock("text"));
}

TEST_F(ReporterOptionsTests, UrlSessionDelegateIsHeldWeakly) {
  auto delegate = std::make_shared<foundation::URLSessionDelegate>();
  Dictionary dict{{"dsn", kDsn}, {"urlSessionDelegate", dozidiObjectValue<foundation::URLSessionDelegate>(delegate)}};
  auto options = DozidiOptions::initWithDict(dict, nullptr);
  ASSERT_NE(options, nullptr);
  EXPECT_EQ(options->urlSessionDelegate.lock(), delegate);
  dict = Dictionary{};
  delegate.reset();
  EXPECT_TRUE(options->urlSessionDelegate.expired());
}

}  // namespace
