#include "dozidi-cocoa/Sources/Dozidi/Screenshots/DozidiScreenshotIntegration.h"

#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiDependencyContainer.h"
#include "dozidi-cocoa/Sources/Dozidi/Screenshots/DozidiScreenshot.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/DozidiCrashC.h"

void dozidi_saveScreenShotsCallback(const char* path) {
  auto* screenshot = DozidiCrashTimeObject<DozidiScreenshot>::shared().get();
  if (screenshot != nullptr && path != nullptr) screenshot->saveScreenShots(path);
}

std::vector<std::shared_ptr<DozidiAttachment>> DozidiScreenshotIntegration::eventAttachments() {
  std::vector<std::shared_ptr<DozidiAttachment>> result;
  auto screenshots = DozidiDependencyContainer::sharedInstance()->screenshot()->appScreenshots();
  for (std::size_t i = 0; i < screenshots.size(); ++i) {
    result.push_back(DozidiAttachment::initWithData(std::move(screenshots[i]), dozidi_screenshotFileName(i), "image/png"));
  }
  return result;
}

void DozidiScreenshotIntegration::registerCrashTimeCallback(bool registered) {
  if (registered) {
    DozidiCrashTimeObject<DozidiScreenshot>::shared().prepare(DozidiDependencyContainer::sharedInstance()->screenshot());
  }
  dozidicrash_setSaveScreenshots(registered ? dozidi_saveScreenShotsCallback : nullptr);
}
