#pragma once
// Test support: a fresh temporary folder for the life of one object.

#include <string>
#include <string_view>

namespace testing_support {

/// A new, empty folder under the system's temporary folder ($TMPDIR, else /tmp), named after
/// `prefix` and made unique; removed with everything in it when the object is destroyed, also
/// where a test took away its write permissions. Ends the process when no folder can be made:
/// a test must never work on a path that does not belong to it.
class TemporaryFolder {
 public:
  explicit TemporaryFolder(std::string_view prefix = "fendrel-test");
  ~TemporaryFolder();
  TemporaryFolder(const TemporaryFolder&) = delete;
  TemporaryFolder& operator=(const TemporaryFolder&) = delete;

  const std::string& path() const { return path_; }
  /// `name` (a relative path) inside the folder.
  std::string file(std::string_view name) const { return path_ + "/" + std::string(name); }

 private:
  std::string path_;
};

}  // namespace testing_support
