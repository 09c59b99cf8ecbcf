#pragma once
#include <cstdint>
#include <string>

#include "platform/foundation/Error.h"

namespace fendrel::cli {

// The command-line program's own errors. The domains appear in the "error" events of the JSON
// event stream, so their texts stay as readers of that stream know them.

/// A command line that cannot be run (unknown command, missing or extra words, bad options).
inline constexpr const char* kCommandLineErrorDomain = "fendrel.commandLine";
/// The device folder the program sets up (bundles copied in from the build).
inline constexpr const char* kDeviceErrorDomain = "fendrel.device";
/// The local server that stands in for the list and configuration hosts in the demo.
inline constexpr const char* kDemoErrorDomain = "fendrel.demo";

/// Codes of kCommandLineErrorDomain: the code is the exit status the program returns for it.
enum class CommandLineErrorCode : std::int64_t {
  Usage = 2,  ///< the command line was wrong (kExitUsage)
};

/// Codes of kDeviceErrorDomain.
enum class DeviceErrorCode : std::int64_t {
  DamagedBundleInfo = 1,  ///< a bundle's Info.json that is not a JSON object
};

/// Codes of kDemoErrorDomain.
enum class DemoErrorCode : std::int64_t {
  CannotListen = 1,  ///< no loopback port could be bound
};

/// An error of one of the domains above; `reason` becomes the localised description.
inline foundation::Error makeCLIError(CommandLineErrorCode code, std::string reason) {
  return foundation::Error::withDescription(kCommandLineErrorDomain, static_cast<std::int64_t>(code),
                                            std::move(reason));
}
inline foundation::Error makeCLIError(DeviceErrorCode code, std::string reason) {
  return foundation::Error::withDescription(kDeviceErrorDomain, static_cast<std::int64_t>(code), std::move(reason));
}
inline foundation::Error makeCLIError(DemoErrorCode code, std::string reason) {
  return foundation::Error::withDescription(kDemoErrorDomain, static_cast<std::int64_t>(code), std::move(reason));
}

}  // namespace fendrel::cli
