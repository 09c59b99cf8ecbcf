#pragma once
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "dozidi-cocoa/Sources/Dozidi/Scope/DozidiScope.h"

class DozidiFileManager;

/// Writes every breadcrumb, as it is added, to one of two files ("breadcrumbs.1.state",
/// "breadcrumbs.2.state"), one compact JSON object per line, switching file after
/// `maxBreadcrumbs` lines. A process killed at any moment leaves its newest breadcrumbs on disk
/// for the next launch. Other scope changes are ignored. Any thread may call it.
class DozidiOutOfMemoryScopeObserver final : public DozidiScopeObserver {
 public:
  DozidiOutOfMemoryScopeObserver(std::int64_t maxBreadcrumbs, std::shared_ptr<DozidiFileManager> fileManager);
  ~DozidiOutOfMemoryScopeObserver() override;

  void setUser(const std::shared_ptr<DozidiUser>&) override {}
  void setTags(const foundation::Dictionary&) override {}
  void setExtras(const foundation::Dictionary&) override {}
  void setContext(const foundation::Dictionary&) override {}
  void setDist(const std::optional<std::string>&) override {}
  void setEnvironment(const std::optional<std::string>&) override {}
  void setFingerprint(const std::vector<std::string>&) override {}
  void setLevel(DozidiEventLevel) override {}
  void addSerializedBreadcrumb(const foundation::Dictionary& crumb) override;
  /// Empties both files; the next breadcrumb goes to file one.
  void clearBreadcrumbs() override;
  void clear() override { clearBreadcrumbs(); }

 private:
  void switchFileHandle();
  void store(const std::string& line);
  void deleteFiles();
  void closeHandle();

  std::shared_ptr<DozidiFileManager> fileManager_;
  std::mutex lock_;
  int fileHandle_ = -1;
  const std::int64_t maxBreadcrumbs_;
  std::int64_t breadcrumbCounter_ = 0;
  std::optional<std::string> activeFilePath_;
};
