#include "dozidi-cocoa/Sources/Dozidi/Screenshots/DozidiViewHierarchy.h"

#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiDependencyContainer.h"
#include "dozidi-cocoa/Sources/Dozidi/Screenshots/UIViewDozidi.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiDispatchQueueWrapper.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiLog.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiUIApplication.h"
#include "platform/dispatch/MainRunLoop.h"
#include "platform/foundation/FileManager.h"
#include "platform/uikit/Window.h"

namespace {

std::vector<std::string> describeWindows(const DozidiUIApplication& application) {
  std::vector<std::string> result;
  for (const auto& window : application.windows()) {
    result.push_back(dozidi_recursiveViewHierarchyDescription(*window));
  }
  return result;
}

}  // namespace

std::string dozidi_viewHierarchyFileName(std::size_t index) {
  return "view-hierarchy-" + std::to_string(index) + ".txt";
}

std::shared_ptr<DozidiViewHierarchy> DozidiViewHierarchy::create(std::shared_ptr<DozidiUIApplication> application) {
  return std::shared_ptr<DozidiViewHierarchy>(new DozidiViewHierarchy(std::move(application)));
}

DozidiViewHierarchy::~DozidiViewHierarchy() = default;

std::vector<std::string> DozidiViewHierarchy::fetchViewHierarchy() const {
  return fetchViewHierarchyPreventMoveToMainThread(false);
}

std::vector<std::string> DozidiViewHierarchy::fetchViewHierarchyPreventMoveToMainThread(
    bool preventMoveToMainThread) const {
  if (preventMoveToMainThread || dispatch::isMainThread()) return describeWindows(*application_);
  std::vector<std::string> result;
  DozidiDependencyContainer::sharedInstance()->dispatchQueueWrapper()->dispatchSyncOnMainQueue(
      [this, &result] { result = describeWindows(*application_); });
  return result;
}

void DozidiViewHierarchy::saveViewHierarchy(const std::string& folder) const {
  const auto descriptions = fetchViewHierarchyPreventMoveToMainThread(true);
  for (std::size_t i = 0; i < descriptions.size(); ++i) {
    const std::string path = folder + "/" + dozidi_viewHierarchyFileName(i);
    // No flush: the kernel keeps the written pages when the process dies.
    auto written = foundation::FileManager::defaultManager().writeFileAtomically(path, descriptions[i],
                                                                                   foundation::FlushToDisk::No);
    if (!written) DOZIDI_LOG_ERROR("Cannot write the view hierarchy: " + written.error().localizedDescription());
  }
}
