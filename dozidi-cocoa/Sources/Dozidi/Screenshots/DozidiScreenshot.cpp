#include "dozidi-cocoa/Sources/Dozidi/Screenshots/DozidiScreenshot.h"

#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiDependencyContainer.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiDispatchQueueWrapper.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiLog.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiUIApplication.h"
#include "platform/dispatch/MainRunLoop.h"
#include "platform/foundation/FileManager.h"
#include "platform/uikit/Renderer.h"
#include "platform/uikit/Window.h"

namespace {

// A screenshot shows the window as laid out in points, as an image context of the window's size
// does: one pixel per point keeps the files small enough to travel with every error event.
constexpr double kScreenshotScale = 1.0;

}  // namespace

std::string dozidi_screenshotFileName(std::size_t index) {
  if (index == 0) return "screenshot.png";
  return "screenshot-" + std::to_string(index + 1) + ".png";
}

std::shared_ptr<DozidiScreenshot> DozidiScreenshot::create(std::shared_ptr<DozidiUIApplication> application) {
  return std::shared_ptr<DozidiScreenshot>(new DozidiScreenshot(std::move(application)));
}

DozidiScreenshot::~DozidiScreenshot() = default;

std::vector<foundation::Data> DozidiScreenshot::takeScreenshots() const {
  std::vector<foundation::Data> result;
  for (const auto& window : application_->windows()) {
    auto image = uikit::Renderer::renderView(*window, kScreenshotScale);
    if (!image) {
      DOZIDI_LOG_DEBUG("Cannot draw the window for a screenshot: " + image.error().localizedDescription());
      continue;
    }
    auto png = uikit::UIImagePNGRepresentation(**image);
    if (png) result.push_back(std::move(*png));
  }
  return result;
}

std::vector<foundation::Data> DozidiScreenshot::appScreenshots() const {
  if (dispatch::isMainThread()) return takeScreenshots();
  std::vector<foundation::Data> result;
  DozidiDependencyContainer::sharedInstance()->dispatchQueueWrapper()->dispatchSyncOnMainQueue(
      [this, &result] { result = takeScreenshots(); });
  return result;
}

void DozidiScreenshot::saveScreenShots(const std::string& folder) const {
  const auto screenshots = takeScreenshots();
  for (std::size_t i = 0; i < screenshots.size(); ++i) {
    const std::string path = folder + "/" + dozidi_screenshotFileName(i);
    // No flush: the kernel keeps the written pages when the process dies.
    auto written = foundation::FileManager::defaultManager().writeFileAtomically(path, screenshots[i].bytes(),
                                                                                   foundation::FlushToDisk::No);
    if (!written) DOZIDI_LOG_ERROR("Cannot write the screenshot: " + written.error().localizedDescription());
  }
}
