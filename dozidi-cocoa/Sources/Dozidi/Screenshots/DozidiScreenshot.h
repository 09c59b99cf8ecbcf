#pragma once
#include <memory>
#include <string>
#include <vector>

class DozidiUIApplication;

#include "platform/foundation/Data.h"

/// PNG pictures of the application's windows, one per window in the order of the application
/// wrapper's window list, each drawn by the toolkit's renderer at one pixel per point.
class DozidiScreenshot {
 public:
  /// Reads the windows of `application`, chosen once so that a crash-time capture asks nothing
  /// of the dependency container (whose lock a stopped thread may hold).
  static std::shared_ptr<DozidiScreenshot> create(std::shared_ptr<DozidiUIApplication> application);
  virtual ~DozidiScreenshot();

  /// Draws every window on the calling thread. A window whose drawing fails (an empty or
  /// impossibly large window) contributes nothing, so the list can be shorter than the windows.
  std::vector<foundation::Data> takeScreenshots() const;
  /// takeScreenshots on the main thread: inline there, else synchronously through the dependency
  /// container's dispatch-queue wrapper, so the caller waits for the main queue.
  std::vector<foundation::Data> appScreenshots() const;
  /// takeScreenshots on the calling thread (never waits for the main thread), each written
  /// atomically to `folder` as "screenshot.png", "screenshot-2.png", ... Used while a crash is
  /// recorded: failures are logged and skipped.
  void saveScreenShots(const std::string& folder) const;

 protected:
  explicit DozidiScreenshot(std::shared_ptr<DozidiUIApplication> application) : application_(std::move(application)) {}

 private:
  std::shared_ptr<DozidiUIApplication> application_;
};

/// The name of the screenshot at `index` in the list: "screenshot.png" first, then
/// "screenshot-<index + 1>.png".
std::string dozidi_screenshotFileName(std::size_t index);
