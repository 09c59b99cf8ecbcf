#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Result.h"
#include "platform/foundation/ValueFwd.h"

namespace foundation {

/// Info.json key of the app groups a bundle is entitled to (an array of group ids).
inline constexpr const char* kApplicationGroupsKey = "com.apple.security.application-groups";

/// The folder that holds everything the device "just has":
///   device.json                          device facts (see DeviceFacts)
///   containers/<group>/Library/{Caches,Preferences}/   app-group containers
///   apps/<Name>.app/, apps/<Name>.appex/ bundles, each with Info.json and its resources
///   data/<bundle id>/{Library/Caches,Library/Preferences,tmp}/   each deliverable's own home
///   browser/                             the browser stand-in's state
/// It is $FENDREL_DEVICE_ROOT, else $XDG_DATA_HOME/fendrel, else ~/.local/share/fendrel, and is
/// created on first use. Every function is safe from any thread.
class DeviceRoot {
 public:
  /// The device root folder (created when missing; a failure to create it shows up as errors of
  /// the file operations below it).
  static std::string path();
  /// Points the process at another device root (each test uses a fresh temporary one, a tool the
  /// root it is given); an empty path goes back to the environment's choice. Forgets the cached
  /// main bundle.
  static void setPath(std::string path);

  /// "<root>/containers/<group>", created with Library/Caches and Library/Preferences, when the
  /// main bundle's Info.json lists the group under kApplicationGroupsKey; none otherwise (no main
  /// bundle, no Info.json, no entitlement, or a group id that is not a plain folder name).
  static std::optional<std::string> containerPath(std::string_view groupIdentifier);
  /// "<root>/apps/<name>" (not created). Names are like "Fendrel.app" and "Quellbox.appex".
  static std::string bundlePath(std::string_view bundleName);
  /// The running deliverable's own home, "<root>/data/<id>", created with Library/Caches,
  /// Library/Preferences and tmp. The id is the main bundle's identifier, else the main bundle's
  /// name, else the program's name.
  static std::string homePath();
  /// "<root>/browser" (created).
  static std::string browserPath();
  /// "<root>/device.json" (not created; every fact has a default).
  static std::string deviceFactsPath();

  /// Lays out a bundle "<root>/apps/<name>": writes `infoDictionary` as its Info.json and copies
  /// each file of `resourcesToCopy` into it under its own file name, replacing earlier copies.
  /// Returns the bundle's path. Fails for a name that is not a plain folder name, a resource
  /// that cannot be read, or a file that cannot be written.
  static Result<std::string> installBundle(std::string_view name, const Dictionary& infoDictionary,
                                           const std::vector<std::string>& resourcesToCopy);

  /// True for a name that can stand as one path component: not empty, not "." or "..", without
  /// "/" or NUL. Ids and names from outside are checked with it before they become paths.
  static bool isPlainName(std::string_view name);
};

}  // namespace foundation
