#pragma once
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiSDK.h"

class DozidiEnvelope;
class DozidiOptions;

/// What a layer built on top of the reporter (another language's SDK) may reach beyond the
/// public facade. The app itself never calls it. Any thread may use it.
class PrivateDozidiSDKOnly {
 public:
  PrivateDozidiSDKOnly() = delete;

  static void storeEnvelope(const DozidiEnvelope& envelope);
  static void captureEnvelope(std::shared_ptr<const DozidiEnvelope> envelope);
  /// None for data that is no envelope.
  static std::shared_ptr<const DozidiEnvelope> envelopeWithData(std::string_view data);

  static std::shared_ptr<const DozidiAppStartMeasurement> appStartMeasurement();
  static std::string installationID();
  /// The options in force; fresh defaults when the reporter has not started.
  static std::shared_ptr<DozidiOptions> options();

  using AppStartCallback = std::function<void(std::shared_ptr<const DozidiAppStartMeasurement>)>;
  static AppStartCallback onAppStartMeasurementAvailable();
  static void setOnAppStartMeasurementAvailable(AppStartCallback callback);
  /// When set, the outside layer measures app starts and frames itself.
  static bool appStartMeasurementHybridSDKMode();
  static void setAppStartMeasurementHybridSDKMode(bool value);
  static bool framesTrackingMeasurementHybridSDKMode();
  static void setFramesTrackingMeasurementHybridSDKMode(bool value);

  static void setSdkName(const std::string& name, const std::string& versionString);
  static void setSdkName(const std::string& name);
  static std::string getSdkName();
  static std::string getSdkVersionString();
};
