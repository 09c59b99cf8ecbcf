#pragma once
// Test support: the process's locale set to a given one for the life of one object.

#include <optional>
#include <string>

namespace testing_support {

/// Sets the process's locale (all categories) to `name`, such as "de_DE.UTF-8", and puts the
/// previous one back when destroyed. When the system lacks that locale but has the sources to
/// build it (Debian `locales` with `localedef`), it is built once per process into a private
/// folder that LOCPATH names while the object lives. Not for use while other threads read the
/// locale or the environment.
class ScopedLocale {
 public:
  explicit ScopedLocale(const std::string& name);
  ~ScopedLocale();
  ScopedLocale(const ScopedLocale&) = delete;
  ScopedLocale& operator=(const ScopedLocale&) = delete;

  /// True when the locale is in force; when false, `whyNot` says why (for a skip message).
  bool active() const { return active_; }
  const std::string& whyNot() const { return whyNot_; }

 private:
  bool active_ = false;
  std::string whyNot_;
  std::string previousLocale_;
  std::optional<std::string> previousLocalePath_;
  bool setLocalePath_ = false;
};

}  // namespace testing_support
