#pragma once
#include <memory>
#include <string>
#include <vector>

class DozidiUIApplication;

/// The text of each application window's view tree (see dozidi_recursiveViewHierarchyDescription),
/// one per window in the order of the application wrapper's window list.
class DozidiViewHierarchy {
 public:
  /// Reads the windows of `application`, chosen once so that a crash-time capture asks nothing
  /// of the dependency container (whose lock a stopped thread may hold).
  static std::shared_ptr<DozidiViewHierarchy> create(std::shared_ptr<DozidiUIApplication> application);
  virtual ~DozidiViewHierarchy();

  /// fetchViewHierarchyPreventMoveToMainThread(false).
  std::vector<std::string> fetchViewHierarchy() const;
  /// Off the main thread and not prevented, the texts are made synchronously on the main queue;
  /// otherwise on the calling thread.
  std::vector<std::string> fetchViewHierarchyPreventMoveToMainThread(bool preventMoveToMainThread) const;
  /// Fetches on the calling thread (never waits for the main thread) and writes each text as UTF-8
  /// atomically to `folder` as "view-hierarchy-0.txt", "view-hierarchy-1.txt", ... Used while a
  /// crash is recorded: failures are logged and skipped.
  void saveViewHierarchy(const std::string& folder) const;

 protected:
  explicit DozidiViewHierarchy(std::shared_ptr<DozidiUIApplication> application) : application_(std::move(application)) {}

 private:
  std::shared_ptr<DozidiUIApplication> application_;
};

/// "view-hierarchy-<index>.txt".
std::string dozidi_viewHierarchyFileName(std::size_t index);
