#pragma once
#include "dozidi-cocoa/Sources/Dozidi/Screenshots/DozidiEventAttachmentIntegration.h"

/// Adds the view tree of every application window as text to error events
/// ("view-hierarchy-0.txt", ...) and, while a language-exception crash is recorded, writes the
/// same files into the report's attachments folder. On while `attachViewHierarchy` is set.
class DozidiViewHierarchyIntegration final : public DozidiEventAttachmentIntegration {
 public:
  std::string integrationName() const override { return "DozidiViewHierarchyIntegration"; }
  std::uint32_t integrationOptions() const override { return kIntegrationOptionAttachViewHierarchy; }

 protected:
  std::vector<std::shared_ptr<DozidiAttachment>> eventAttachments() override;
  void registerCrashTimeCallback(bool registered) override;
};

/// The crash recorder's view-hierarchy callback: the dependency container's view-hierarchy object
/// (as it was when the integration installed) saves into `path`. Runs on the crash-handling
/// thread and never waits for the main thread.
void dozidi_saveViewHierarchyCallback(const char* path);
