#include "testing/TemporaryFolder.h"

#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <system_error>

namespace testing_support {

namespace fs = std::filesystem;

TemporaryFolder::TemporaryFolder(std::string_view prefix) {
  std::error_code error;
  fs::path base = fs::temp_directory_path(error);
  if (error) base = "/tmp";
  std::string pattern = (base / (std::string(prefix) + "-XXXXXX")).string();
  if (!::mkdtemp(pattern.data())) {
    std::perror(("cannot create a temporary folder " + pattern).c_str());
    std::abort();
  }
  path_ = pattern;
}

TemporaryFolder::~TemporaryFolder() {
  // Folders a test made read-only are opened up again first (each before the walk enters it),
  // or their files would stay behind.
  std::error_code ignored;
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
  std::error_code walking;
  for (fs::recursive_directory_iterator entry(path_, walking), end; !walking && entry != end;
       entry.increment(walking)) {
    if (entry->is_directory(ignored) && !entry->is_symlink(ignored)) {
      fs::permissions(entry->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
  }
  fs::remove_all(path_, ignored);
}

}  // namespace testing_support
