#pragma once
#include "dozidi-cocoa/Sources/Dozidi/Screenshots/DozidiEventAttachmentIntegration.h"

/// Adds a PNG screenshot of every application window to error events ("screenshot.png",
/// "screenshot-2.png", ...) and, while a language-exception crash is recorded, writes the same
/// files into the report's attachments folder. On while `attachScreenshot` is set.
class DozidiScreenshotIntegration final : public DozidiEventAttachmentIntegration {
 public:
  std::string integrationName() const override { return "DozidiScreenshotIntegration"; }
  std::uint32_t integrationOptions() const override { return kIntegrationOptionAttachScreenshot; }

 protected:
  std::vector<std::shared_ptr<DozidiAttachment>> eventAttachments() override;
  void registerCrashTimeCallback(bool registered) override;
};

/// The crash recorder's screenshot callback: the dependency container's screenshot object (as it
/// was when the integration installed) saves into `path`. Runs on the crash-handling thread and
/// never waits for the main thread.
void dozidi_saveScreenShotsCallback(const char* path);
