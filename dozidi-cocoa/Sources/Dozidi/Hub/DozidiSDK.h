#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "dozidi-cocoa/Sources/Dozidi/Performance/DozidiAppStartMeasurement.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiId.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Value.h"

class DozidiBreadcrumb;
class DozidiEnvelope;
class DozidiEvent;
class DozidiHub;
class DozidiIntegration;
class DozidiOptions;
class DozidiScope;
class DozidiUser;
struct DozidiNSException;


/// The static entry point of the crash reporter. All of its state is process-wide: the current
/// hub is read and replaced under one lock, the flags are atomic, so any thread may call it.
class DozidiSDK {
 public:
  DozidiSDK() = delete;

  /// Options with every default, changed by `configure`, then the start road.
  static void startWithConfigureOptions(const std::function<void(DozidiOptions&)>& configure);
  /// Options from `options`; a dictionary that fails validation logs two error lines and starts
  /// nothing.
  static void startWithOptions(const foundation::Dictionary& options);
  /// A new client and hub over `options` become current and the named integrations install. A
  /// hub replaced by a later start has its integrations uninstalled first.
  static void startWithOptionsObject(std::shared_ptr<DozidiOptions> options);
  /// Installs the integrations named in the current client's options, in list order.
  static void installIntegrations();
  /// Uninstalls the integrations, disables and unbinds the client; there is no current hub after.
  static void close();

  /// Makes integrations known by name, so that an options list can name them.
  using IntegrationFactory = std::function<std::shared_ptr<DozidiIntegration>()>;
  using IntegrationKind = std::function<bool(const DozidiIntegration&)>;
  static void registerIntegration(const std::string& name, IntegrationFactory factory, IntegrationKind isKind);

  /// The current hub; when there is none, a hub without client and scope is made and kept.
  static std::shared_ptr<DozidiHub> currentHub();
  static void setCurrentHub(std::shared_ptr<DozidiHub> hub);
  /// The current client's options; none without hub or client (no hub is made).
  static std::shared_ptr<DozidiOptions> options();
  static bool isEnabled();

  static std::uint64_t startInvocations();
  static void setStartInvocations(std::uint64_t value);
  static bool crashedLastRunCalled();
  static void setCrashedLastRunCalled(bool value);
  /// Sets the crashed-last-run flag; true only for the one caller that changed it from false.
  static bool claimCrashedLastRunCall();
  /// Whether the last run of the app crashed.
  static bool crashedLastRun();

  static void setAppStartMeasurement(std::shared_ptr<const DozidiAppStartMeasurement> measurement);
  static std::shared_ptr<const DozidiAppStartMeasurement> getAppStartMeasurement();
  /// Called with every app-start measurement once it is stored.
  static void setOnAppStartMeasurementAvailable(std::function<void(std::shared_ptr<const DozidiAppStartMeasurement>)> callback);
  static std::function<void(std::shared_ptr<const DozidiAppStartMeasurement>)> onAppStartMeasurementAvailable();

  static DozidiId captureEvent(std::shared_ptr<DozidiEvent> event);
  static DozidiId captureEvent(std::shared_ptr<DozidiEvent> event, const DozidiScope& scope);
  static DozidiId captureEvent(std::shared_ptr<DozidiEvent> event, const std::function<void(DozidiScope&)>& block);
  static DozidiId captureMessage(const std::string& message);
  static DozidiId captureMessage(const std::string& message, const DozidiScope& scope);
  static DozidiId captureMessage(const std::string& message, const std::function<void(DozidiScope&)>& block);
  static DozidiId captureError(const foundation::Error& error);
  static DozidiId captureError(const foundation::Error& error, const DozidiScope& scope);
  static DozidiId captureError(const foundation::Error& error, const std::function<void(DozidiScope&)>& block);
  static DozidiId captureException(const DozidiNSException& exception);
  static DozidiId captureException(const DozidiNSException& exception, const DozidiScope& scope);
  static DozidiId captureException(const DozidiNSException& exception, const std::function<void(DozidiScope&)>& block);
  static void captureCrashEvent(std::shared_ptr<DozidiEvent> event);
  static void captureEnvelope(std::shared_ptr<const DozidiEnvelope> envelope);
  static void storeEnvelope(const DozidiEnvelope& envelope);
  static void addBreadcrumb(std::shared_ptr<DozidiBreadcrumb> crumb);
  /// Calls `block` with the current hub's scope, only once the reporter has been started.
  static void configureScope(const std::function<void(DozidiScope&)>& block);
  static void setUser(std::shared_ptr<DozidiUser> user);
  static void startSession();
  static void endSession();
  static void flush(double timeout);
};
