#pragma once
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/URL.h"
#include "platform/foundation/Value.h"

namespace foundation {

/// A bundle folder: Info.json (its info dictionary) and resource files next to it.
/// Immutable once made; safe from any thread.
class Bundle {
 public:
  /// The running deliverable's bundle: "<device root>/apps/<name>" for the name given to
  /// setMainBundleName, else the one in $FENDREL_MAIN_BUNDLE. A name holding "/" is taken as a
  /// path. With neither, an empty bundle: no info, no resources.
  static std::shared_ptr<const Bundle> main();
  /// Chooses the main bundle of this process (the app sets "Fendrel.app", the extension host
  /// the extension's bundle). An empty name goes back to $FENDREL_MAIN_BUNDLE.
  static void setMainBundleName(std::string name);
  /// The bundle at `path`; none when no folder is there.
  static std::shared_ptr<const Bundle> atPath(const std::string& path);

  /// The bundle's folder ("" for the empty bundle).
  const std::string& bundlePath() const { return path_; }
  /// The URL of the resource "<name>.<ext>" (or "<name>" when `withExtension` is empty) in the
  /// bundle; none when there is no such file or the name is not a plain file name.
  std::optional<URL> url(std::string_view forResource, std::string_view withExtension = {}) const;
  std::optional<std::string> path(std::string_view forResource, std::string_view ofType = {}) const;

  /// The contents of Info.json; empty when it is missing or is not a JSON object.
  const Dictionary& infoDictionary() const { return info_; }
  /// "CFBundleIdentifier" of the info dictionary.
  std::optional<std::string> bundleIdentifier() const;
  /// A value of the info dictionary (absent when missing).
  Value object(std::string_view forInfoDictionaryKey) const;

  /// Forgets the cached main bundle, so that the next main() reads Info.json again (after the
  /// device root changed or a bundle was installed).
  static void resetMain();

  explicit Bundle(std::string path, Dictionary info) : path_(std::move(path)), info_(std::move(info)) {}

 private:
  std::string path_;
  Dictionary info_;
};

}  // namespace foundation
