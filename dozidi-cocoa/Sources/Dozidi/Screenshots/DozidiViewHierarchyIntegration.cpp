#include "dozidi-cocoa/Sources/Dozidi/Screenshots/DozidiViewHierarchyIntegration.h"

#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiDependencyContainer.h"
#include "dozidi-cocoa/Sources/Dozidi/Screenshots/DozidiViewHierarchy.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/DozidiCrashC.h"

void dozidi_saveViewHierarchyCallback(const char* path) {
  auto* viewHierarchy = DozidiCrashTimeObject<DozidiViewHierarchy>::shared().get();
  if (viewHierarchy != nullptr && path != nullptr) viewHierarchy->saveViewHierarchy(path);
}

std::vector<std::shared_ptr<DozidiAttachment>> DozidiViewHierarchyIntegration::eventAttachments() {
  std::vector<std::shared_ptr<DozidiAttachment>> result;
  const auto descriptions = DozidiDependencyContainer::sharedInstance()->viewHierarchy()->fetchViewHierarchy();
  for (std::size_t i = 0; i < descriptions.size(); ++i) {
    result.push_back(DozidiAttachment::initWithData(foundation::Data(descriptions[i]), dozidi_viewHierarchyFileName(i),
                                                    "text/plain"));
  }
  return result;
}

void DozidiViewHierarchyIntegration::registerCrashTimeCallback(bool registered) {
  if (registered) {
    DozidiCrashTimeObject<DozidiViewHierarchy>::shared().prepare(DozidiDependencyContainer::sharedInstance()->viewHierarchy());
  }
  dozidicrash_setSaveViewHierarchy(registered ? dozidi_saveViewHierarchyCallback : nullptr);
}
