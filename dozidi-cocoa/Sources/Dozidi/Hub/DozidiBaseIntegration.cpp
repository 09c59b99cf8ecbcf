#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiBaseIntegration.h"

#include <fstream>

#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiOptions.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiLog.h"

bool dozidi_isBeingTraced() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("TracerPid:", 0) == 0) return std::stol(line.substr(10)) != 0;
  }
  return false;
}

void DozidiBaseIntegration::logWithOptionName(const std::string& optionName) const {
  logWithReason("because " + optionName + " is disabled");
}

void DozidiBaseIntegration::logWithReason(const std::string& reason) const {
  DOZIDI_LOG_DEBUG("Not going to enable " + integrationName() + " " + reason + ".");
}

bool DozidiBaseIntegration::shouldBeEnabledWithOptions(const DozidiOptions& options) const {
  const std::uint32_t mask = integrationOptions();
  struct Check {
    std::uint32_t bit;
    bool holds;
    const char* optionName;
  };
  const Check checks[] = {
      {kIntegrationOptionEnableAutoSessionTracking, options.enableAutoSessionTracking, "enableAutoSessionTracking"},
      {kIntegrationOptionEnableOutOfMemoryTracking, options.enableOutOfMemoryTracking, "enableOutOfMemoryTracking"},
      {kIntegrationOptionEnableAutoPerformanceTracking, options.enableAutoPerformanceTracking,
       "enableAutoPerformanceTracking"},
      {kIntegrationOptionEnableUIViewControllerTracking, options.enableUIViewControllerTracking,
       "enableUIViewControllerTracking"},
      {kIntegrationOptionAttachScreenshot, options.attachScreenshot, "attachScreenshot"},
      {kIntegrationOptionEnableUserInteractionTracing, options.enableUserInteractionTracing,
       "enableUserInteractionTracing"},
      {kIntegrationOptionEnableAppHangTracking, options.enableAppHangTracking, "enableAppHangTracking"},
      {kIntegrationOptionEnableNetworkTracking, options.enableNetworkTracking, "enableNetworkTracking"},
      {kIntegrationOptionEnableFileIOTracking, options.enableFileIOTracking, "enableFileIOTracking"},
      {kIntegrationOptionEnableNetworkBreadcrumbs, options.enableNetworkBreadcrumbs, "enableNetworkBreadcrumbs"},
      {kIntegrationOptionEnableCoreDataTracking, options.enableCoreDataTracking, "enableCoreDataTracking"},
      {kIntegrationOptionEnableSwizzling, options.enableSwizzling, "enableSwizzling"},
      {kIntegrationOptionEnableAutoBreadcrumbTracking, options.enableAutoBreadcrumbTracking,
       "enableAutoBreadcrumbTracking"},
      {kIntegrationOptionIsTracingEnabled, options.isTracingEnabled(), "isTracingEnabled"},
      {kIntegrationOptionDebuggerNotAttached, true, nullptr},
      {kIntegrationOptionAttachViewHierarchy, options.attachViewHierarchy, "attachViewHierarchy"},
      {kIntegrationOptionEnableCrashHandler, options.enableCrashHandler, "enableCrashHandler"},
  };
  for (const auto& check : checks) {
    if (!(mask & check.bit)) continue;
    if (check.bit == kIntegrationOptionDebuggerNotAttached) {
      if (dozidi_isBeingTraced()) {
        logWithReason("because the debugger is attached");
        return false;
      }
      continue;
    }
    if (!check.holds) {
      logWithOptionName(check.optionName);
      return false;
    }
    if (check.bit == kIntegrationOptionEnableAppHangTracking && options.appHangTimeoutInterval == 0) {
      logWithReason("because appHangTimeoutInterval is 0");
      return false;
    }
  }
  return true;
}
