#include "dozidi-cocoa/Sources/Dozidi/OutOfMemory/DozidiOutOfMemoryScopeObserver.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>

#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiLog.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiFileManager.h"
#include "platform/foundation/JSONSerialization.h"
#include "platform/foundation/SystemCalls.h"

DozidiOutOfMemoryScopeObserver::DozidiOutOfMemoryScopeObserver(std::int64_t maxBreadcrumbs,
                                                               std::shared_ptr<DozidiFileManager> fileManager)
    : fileManager_(std::move(fileManager)), maxBreadcrumbs_(maxBreadcrumbs) {
  std::lock_guard guard(lock_);
  switchFileHandle();
}

DozidiOutOfMemoryScopeObserver::~DozidiOutOfMemoryScopeObserver() { closeHandle(); }

void DozidiOutOfMemoryScopeObserver::addSerializedBreadcrumb(const foundation::Dictionary& crumb) {
  auto data = foundation::JSONSerialization::dataWithJSONObject(foundation::Value(crumb));
  if (!data.ok()) {
    DOZIDI_LOG_ERROR("Error serializing breadcrumb: " + data.error().localizedDescription());
    return;
  }
  std::lock_guard guard(lock_);
  store(*data);
}

void DozidiOutOfMemoryScopeObserver::clearBreadcrumbs() {
  std::lock_guard guard(lock_);
  deleteFiles();
  switchFileHandle();
}

void DozidiOutOfMemoryScopeObserver::closeHandle() {
  if (fileHandle_ >= 0) ::close(fileHandle_);
  fileHandle_ = -1;
}

void DozidiOutOfMemoryScopeObserver::switchFileHandle() {
  const std::string& one = fileManager_->breadcrumbsFilePathOne();
  const std::string& next = activeFilePath_ == one ? fileManager_->breadcrumbsFilePathTwo() : one;
  closeHandle();
  ::unlink(next.c_str());
  activeFilePath_ = next;
  fileHandle_ = foundation::retryOnInterrupt(
      [&] { return ::open(next.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644); });
  if (fileHandle_ < 0) DOZIDI_LOG_ERROR("Couldn't open file handle for " + next);
}

void DozidiOutOfMemoryScopeObserver::store(const std::string& line) {
  if (fileHandle_ >= 0) {
    // One write per line: a process killed mid-way leaves at most one partial last line, which
    // the next launch passes over.
    const off_t end = ::lseek(fileHandle_, 0, SEEK_END);
    if (const int error = foundation::writeFully(fileHandle_, line + "\n"); error != 0) {
      DOZIDI_LOG_ERROR("Error while writing data to end file with size (" + std::to_string(end < 0 ? 0 : end) +
                       "): " + std::strerror(error) + " ");
    }
  }
  breadcrumbCounter_ += 1;
  if (breadcrumbCounter_ >= maxBreadcrumbs_) {
    switchFileHandle();
    breadcrumbCounter_ = 0;
  }
}

void DozidiOutOfMemoryScopeObserver::deleteFiles() {
  closeHandle();
  activeFilePath_.reset();
  breadcrumbCounter_ = 0;
  ::unlink(fileManager_->breadcrumbsFilePathOne().c_str());
  ::unlink(fileManager_->breadcrumbsFilePathTwo().c_str());
}
