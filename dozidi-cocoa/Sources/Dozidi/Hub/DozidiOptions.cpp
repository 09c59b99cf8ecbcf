#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiOptions.h"

#include <cctype>
#include <cmath>
#include <limits>

#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiMeta.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiLog.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiDsn.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/URLSession.h"

using foundation::Array;
using foundation::Dictionary;
using foundation::Value;

namespace {

// The platform's boolean reading of a text: after leading white space, an optional sign and
// leading zeros, "Y", "y", "T", "t" or a digit 1 to 9 reads as true, anything else as false.
bool stringBoolValue(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  while (i < text.size() && text[i] == '0') ++i;
  if (i == text.size()) return false;
  const char c = text[i];
  return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
}

// Readers of one dictionary entry. An entry that is missing or of the wrong type leaves the
// target as it is.
void readBool(const Dictionary& options, std::string_view key, bool& target) {
  const Value& value = options[key];
  if (const auto* number = value.number()) {
    target = number->boolValue();
  } else if (const auto* text = value.string()) {
    target = stringBoolValue(*text);
  }
}

void readString(const Dictionary& options, std::string_view key, std::optional<std::string>& target) {
  if (const auto* text = options[key].string()) target = *text;
}

// Counts that the platform keeps in 32 bits. A value outside 0 to 2^32-1 keeps the default rather
// than wrapping: -1 would otherwise switch the cache limit off, 2^32+100 give 100.
void readUInt32(const Dictionary& options, std::string_view key, std::uint64_t& target) {
  const auto* number = options[key].number();
  if (!number || number->isBool()) return;
  if (number->isFloatingPoint()) {
    const double value = number->doubleValue();
    if (std::isfinite(value) && value >= 0 && value < 4294967296.0) target = static_cast<std::uint64_t>(value);
    return;
  }
  if (auto value = number->exactUInt64(); value && *value <= std::numeric_limits<std::uint32_t>::max()) target = *value;
}

std::optional<double> readNumber(const Dictionary& options, std::string_view key) {
  const auto* number = options[key].number();
  if (!number || number->isBool()) return std::nullopt;
  return number->doubleValue();
}

void readDouble(const Dictionary& options, std::string_view key, double& target) {
  if (auto value = readNumber(options, key); value && std::isfinite(*value)) target = *value;
}

template <class Callback>
void readCallback(const Dictionary& options, std::string_view key, Callback& target) {
  if (auto callback = dozidiObject<Callback>(options[key])) target = *callback;
}

std::vector<std::string> stringElements(const Array& array) {
  std::vector<std::string> strings;
  for (const auto& element : array) {
    if (const auto* text = element.string()) strings.push_back(*text);
  }
  return strings;
}

bool isTarget(const Value& element) {
  return element.string() || dozidiObject<DozidiRegularExpression>(element);
}

void warnAboutUnsupportedTargets(const Array& targets, const char* message) {
  for (const auto& element : targets) {
    if (!isTarget(element)) DOZIDI_LOG_WARN(message);
  }
}

Array everyTarget() { return Array{dozidiObjectValue(DozidiRegularExpression{".*", true})}; }

// The main bundle's text for a key, formatted as the platform formats an absent object.
std::string infoText(const Dictionary& info, std::string_view key) {
  const Value& value = info[key];
  if (value.isAbsent()) return "(null)";
  if (const auto* text = value.string()) return *text;
  return value.description();
}

}  // namespace

DozidiOptions::DozidiOptions()
    : integrations_(defaultIntegrations()),
      tracePropagationTargets_(everyTarget()),
      failedRequestTargets_(everyTarget()) {
  setSampleRate(defaultSampleRate());
  const Dictionary& info = foundation::Bundle::main()->infoDictionary();
  if (!info.empty()) {
    releaseName = infoText(info, "CFBundleIdentifier") + "@" + infoText(info, "CFBundleShortVersionString") + "+" +
                  infoText(info, "CFBundleVersion");
  }
  if (const auto* executable = info["CFBundleExecutable"].string()) inAppIncludes.push_back(*executable);
}

std::shared_ptr<DozidiOptions> DozidiOptions::create() { return std::shared_ptr<DozidiOptions>(new DozidiOptions()); }

std::shared_ptr<DozidiOptions> DozidiOptions::initWithDict(const Dictionary& options, foundation::Error* error) {
  auto result = create();
  foundation::Error failure("", 0);
  // A DSN that does not parse always fails, also for a caller without an error slot: options
  // without a DSN would be handed on as if they were valid.
  if (!result->validateOptions(options, &failure)) {
    DOZIDI_LOG_ERROR("Failed to initialize: " + Value(failure).description());
    if (error) *error = failure;
    return nullptr;
  }
  return result;
}

std::vector<std::string> DozidiOptions::defaultIntegrations() {
  return {"DozidiCrashIntegration",
          "DozidiANRTrackingIntegration",
          "DozidiScreenshotIntegration",
          "DozidiUIEventTrackingIntegration",
          "DozidiViewHierarchyIntegration",
          "DozidiFramesTrackingIntegration",
          "DozidiAutoBreadcrumbTrackingIntegration",
          "DozidiAutoSessionTrackingIntegration",
          "DozidiAppStartTrackingIntegration",
          "DozidiOutOfMemoryTrackingIntegration",
          "DozidiPerformanceTrackingIntegration",
          "DozidiNetworkTrackingIntegration",
          "DozidiFileIOTrackingIntegration",
          "DozidiCoreDataTrackingIntegration"};
}

bool DozidiOptions::isBlock(const Value& value) {
  return dozidiObject<DozidiBeforeSendCallback>(value) || dozidiObject<DozidiBeforeBreadcrumbCallback>(value) ||
         dozidiObject<DozidiOnCrashedLastRunCallback>(value) || dozidiObject<DozidiSamplerCallback>(value);
}

void DozidiOptions::setDsn(std::optional<std::string> dsn) {
  if (!dsn) {
    dsn_.reset();
    parsedDsn_.reset();
    return;
  }
  foundation::Error error("", 0);
  parsedDsn_ = DozidiDsn::initWithString(*dsn, &error);
  if (!parsedDsn_) {
    DOZIDI_LOG_ERROR("Could not parse the DSN: " + Value(error).description() + ".");
    // The text goes with the parsed DSN, so that the two never disagree.
    dsn_.reset();
    return;
  }
  dsn_ = std::move(dsn);
}

void DozidiOptions::setIntegrations(std::vector<std::string> integrations) {
  DOZIDI_LOG_WARN(
      "Setting `DozidiOptions.integrations` is deprecated. Integrations should be enabled or disabled using their "
      "respective `DozidiOptions.enable*` property.");
  integrations_ = std::move(integrations);
}

bool DozidiOptions::isValidSampleRate(double rate) { return rate >= 0.0 && rate <= 1.0; }

void DozidiOptions::setSampleRate(std::optional<double> rate) {
  sampleRate_ = !rate || isValidSampleRate(*rate) ? rate : std::optional<double>(defaultSampleRate());
}

void DozidiOptions::setTracesSampleRate(std::optional<double> rate) {
  tracesSampleRate_ = !rate || isValidSampleRate(*rate) ? rate : defaultTracesSampleRate();
}

void DozidiOptions::setProfilesSampleRate(std::optional<double> rate) {
  profilesSampleRate_ = !rate || isValidSampleRate(*rate) ? rate : defaultProfilesSampleRate();
}

void DozidiOptions::setTracePropagationTargets(Array targets) {
  warnAboutUnsupportedTargets(
      targets, "Only instances of NSString and NSRegularExpression are supported inside tracePropagationTargets.");
  tracePropagationTargets_ = std::move(targets);
}

void DozidiOptions::setFailedRequestTargets(Array targets) {
  warnAboutUnsupportedTargets(
      targets, "Only instances of NSString and NSRegularExpression are supported inside failedRequestTargets.");
  failedRequestTargets_ = std::move(targets);
}

bool DozidiOptions::isTracingEnabled() const {
  return (tracesSampleRate_ && *tracesSampleRate_ > 0.0) || static_cast<bool>(tracesSampler);
}

bool DozidiOptions::isProfilingEnabled() const {
  return (profilesSampleRate_ && *profilesSampleRate_ > 0.0) || static_cast<bool>(profilesSampler) || enableProfiling;
}

DozidiSdkInfo DozidiOptions::sdkInfo() const { return DozidiSdkInfo(DozidiMeta::sdkName(), DozidiMeta::versionString()); }

bool DozidiOptions::validateOptions(const Dictionary& options, foundation::Error* error) {
  readBool(options, "debug", debug);
  if (const auto* name = options["diagnosticLevel"].string()) {
    // Only a level's exact name counts; any other text keeps the level.
    const DozidiEventLevel level = dozidiLevelForString(*name);
    if (nameForDozidiLevel(level) == *name) diagnosticLevel = level;
  }
  const auto* dsnText = options["dsn"].string();
  parsedDsn_ = DozidiDsn::initWithString(dsnText ? *dsnText : "", error);
  const bool dsnParsed = parsedDsn_ != nullptr;
  readString(options, "release", releaseName);
  readString(options, "environment", environment);
  readString(options, "dist", dist);
  readBool(options, "enabled", enabled);
  readBool(options, "enableCrashHandler", enableCrashHandler);
  readUInt32(options, "maxBreadcrumbs", maxBreadcrumbs);
  readBool(options, "enableNetworkBreadcrumbs", enableNetworkBreadcrumbs);
  readUInt32(options, "maxCacheItems", maxCacheItems);
  readCallback(options, "beforeSend", beforeSend);
  readCallback(options, "beforeBreadcrumb", beforeBreadcrumb);
  readCallback(options, "onCrashedLastRun", onCrashedLastRun);
  if (const auto* list = options["integrations"].array()) setIntegrations(stringElements(*list));
  if (auto rate = readNumber(options, "sampleRate")) setSampleRate(rate);
  readBool(options, "enableAutoSessionTracking", enableAutoSessionTracking);
  readBool(options, "enableOutOfMemoryTracking", enableOutOfMemoryTracking);
  readUInt32(options, "sessionTrackingIntervalMillis", sessionTrackingIntervalMillis);
  readBool(options, "attachStacktrace", attachStacktrace);
  readBool(options, "stitchAsyncCode", stitchAsyncCode);
  readUInt32(options, "maxAttachmentSize", maxAttachmentSize);
  readBool(options, "sendDefaultPii", sendDefaultPii);
  readBool(options, "enableAutoPerformanceTracking", enableAutoPerformanceTracking);
  readBool(options, "enableCaptureFailedRequests", enableCaptureFailedRequests);
  readBool(options, "enableUIViewControllerTracking", enableUIViewControllerTracking);
  readBool(options, "attachScreenshot", attachScreenshot);
  readBool(options, "attachViewHierarchy", attachViewHierarchy);
  readBool(options, "enableUserInteractionTracing", enableUserInteractionTracing);
  readDouble(options, "idleTimeout", idleTimeout);
  readBool(options, "enablePreWarmedAppStartTracking", enablePreWarmedAppStartTracking);
  readBool(options, "enableAppHangTracking", enableAppHangTracking);
  readDouble(options, "appHangTimeoutInterval", appHangTimeoutInterval);
  readBool(options, "enableNetworkTracking", enableNetworkTracking);
  readBool(options, "enableFileIOTracking", enableFileIOTracking);
  if (auto rate = readNumber(options, "tracesSampleRate")) setTracesSampleRate(rate);
  readCallback(options, "tracesSampler", tracesSampler);
  if (const auto* list = options["inAppIncludes"].array()) {
    for (auto& include : stringElements(*list)) inAppIncludes.push_back(std::move(include));
  }
  if (const auto* list = options["inAppExcludes"].array()) inAppExcludes = stringElements(*list);
  if (auto delegate = dozidiObject<foundation::URLSessionDelegate>(options["urlSessionDelegate"])) {
    urlSessionDelegate = std::const_pointer_cast<foundation::URLSessionDelegate>(delegate);
  }
  readBool(options, "enableSwizzling", enableSwizzling);
  readBool(options, "enableCoreDataTracking", enableCoreDataTracking);
  if (auto rate = readNumber(options, "profilesSampleRate")) setProfilesSampleRate(rate);
  readCallback(options, "profilesSampler", profilesSampler);
  readBool(options, "enableProfiling", enableProfiling);
  readBool(options, "sendClientReports", sendClientReports);
  readBool(options, "enableAutoBreadcrumbTracking", enableAutoBreadcrumbTracking);
  if (const auto* list = options["tracePropagationTargets"].array()) setTracePropagationTargets(*list);
  if (const auto* list = options["failedRequestStatusCodes"].array()) {
    // Only ranges can be matched against a status code; anything else in the list is dropped.
    failedRequestStatusCodes.clear();
    for (const auto& element : *list) {
      if (auto range = dozidiObject<DozidiHttpStatusCodeRange>(element)) failedRequestStatusCodes.push_back(*range);
    }
  }
  if (const auto* list = options["failedRequestTargets"].array()) setFailedRequestTargets(*list);
  if (options["sdk"].dictionary()) {
    const DozidiSdkInfo defaults(DozidiMeta::sdkName(), DozidiMeta::versionString());
    const DozidiSdkInfo info = DozidiSdkInfo::initWithDict(options, &defaults);
    DozidiMeta::setVersionString(info.version());
    DozidiMeta::setSdkName(info.name());
  }
  return dsnParsed;
}
