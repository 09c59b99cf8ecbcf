#pragma once
#include <cstdint>
#include <string>

class DozidiOptions;

/// An integration the SDK installs at start and uninstalls at close.
class DozidiIntegration {
 public:
  virtual ~DozidiIntegration() = default;
  /// True when the integration installed itself.
  virtual bool installWithOptions(const DozidiOptions& options) = 0;
  virtual void uninstall() {}
};

/// Conditions an integration depends on, tested in this order.
enum DozidiIntegrationOption : std::uint32_t {
  kIntegrationOptionNone = 0,
  kIntegrationOptionEnableAutoSessionTracking = 1u << 0,
  kIntegrationOptionEnableOutOfMemoryTracking = 1u << 1,
  kIntegrationOptionEnableAutoPerformanceTracking = 1u << 2,
  kIntegrationOptionEnableUIViewControllerTracking = 1u << 3,
  kIntegrationOptionAttachScreenshot = 1u << 4,
  kIntegrationOptionEnableUserInteractionTracing = 1u << 5,
  kIntegrationOptionEnableAppHangTracking = 1u << 6,
  kIntegrationOptionEnableNetworkTracking = 1u << 7,
  kIntegrationOptionEnableFileIOTracking = 1u << 8,
  kIntegrationOptionEnableNetworkBreadcrumbs = 1u << 9,
  kIntegrationOptionEnableCoreDataTracking = 1u << 10,
  kIntegrationOptionEnableSwizzling = 1u << 11,
  kIntegrationOptionEnableAutoBreadcrumbTracking = 1u << 12,
  kIntegrationOptionIsTracingEnabled = 1u << 13,
  kIntegrationOptionDebuggerNotAttached = 1u << 14,
  kIntegrationOptionAttachViewHierarchy = 1u << 15,
  kIntegrationOptionEnableCrashHandler = 1u << 16,
};

/// The common base of the integrations: checks the options the integration declares, logging the
/// first reason it stays off.
class DozidiBaseIntegration : public DozidiIntegration {
 public:
  /// The integration's class name, e.g. "DozidiCrashIntegration".
  virtual std::string integrationName() const = 0;
  virtual std::uint32_t integrationOptions() const { return kIntegrationOptionNone; }

  bool installWithOptions(const DozidiOptions& options) override { return shouldBeEnabledWithOptions(options); }
  bool shouldBeEnabledWithOptions(const DozidiOptions& options) const;

 protected:
  void logWithOptionName(const std::string& optionName) const;
  void logWithReason(const std::string& reason) const;
};

/// True when a debugger (or any tracer) is attached to this process.
bool dozidi_isBeingTraced();
