#include "dozidi-cocoa/Sources/Dozidi/Performance/IO/DozidiNSDataTracker.h"

#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiClient.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiHub.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiSDK.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiSpan.h"
#include "dozidi-cocoa/Sources/Dozidi/Scope/DozidiScope.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiFoundationHelpers.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiLog.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiFileManager.h"
#include "platform/foundation/URL.h"
#include "platform/runtime/NSData.h"

namespace {

constexpr const char* kFileRead = "file.read";
constexpr const char* kFileWrite = "file.write";

/// The traced file operations under way on this thread: none outside of any. A read or write
/// that runs inside another one (the path read calling the read with options, a write calling
/// another write) is part of the outer operation's span.
thread_local std::optional<int> trackingCounter;

/// Ends the thread's count of one operation however the operation returns.
struct TrackingScope {
  TrackingScope() : outermost(!trackingCounter) { trackingCounter = trackingCounter.value_or(0) + 1; }
  ~TrackingScope() {
    if (*trackingCounter > 1) {
      --*trackingCounter;
    } else {
      trackingCounter.reset();
    }
  }
  TrackingScope(const TrackingScope&) = delete;
  TrackingScope& operator=(const TrackingScope&) = delete;
  const bool outermost;
};

std::string lastPathComponent(const std::string& path) {
  std::string trimmed = path;
  while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
  const auto slash = trimmed.rfind('/');
  return slash == std::string::npos || trimmed == "/" ? trimmed : trimmed.substr(slash + 1);
}

}  // namespace

std::shared_ptr<DozidiNSDataTracker> DozidiNSDataTracker::sharedInstance() {
  // Never destroyed: swizzled methods reach it from any thread, also from threads that still
  // finish work while the process exits and runs its static destructors.
  static const auto* instance = new std::shared_ptr<DozidiNSDataTracker>(std::make_shared<DozidiNSDataTracker>());
  return *instance;
}

void DozidiNSDataTracker::enable() {
  std::lock_guard guard(lock_);
  isEnabled_ = true;
}

void DozidiNSDataTracker::disable() {
  std::lock_guard guard(lock_);
  isEnabled_ = false;
}

bool DozidiNSDataTracker::isEnabled() const {
  std::lock_guard guard(lock_);
  return isEnabled_;
}

std::optional<int> DozidiNSDataTracker::trackingCounterOfCurrentThread() { return trackingCounter; }

bool DozidiNSDataTracker::measureNSData(const foundation::Data& data, const std::string& path, bool useAuxiliaryFile,
                                        const WriteAtomicallyMethod& method) {
  TrackingScope scope;
  auto span = scope.outermost ? startTrackingWritingNSData(data, path) : nullptr;
  const bool result = method(path, useAuxiliaryFile);
  if (span) finishTrackingNSData(&data, span);
  return result;
}

bool DozidiNSDataTracker::measureNSData(const foundation::Data& data, const std::string& path, std::uint32_t options,
                                        foundation::Error* error, const WriteOptionsMethod& method) {
  TrackingScope scope;
  auto span = scope.outermost ? startTrackingWritingNSData(data, path) : nullptr;
  const bool result = method(path, options, error);
  if (span) finishTrackingNSData(&data, span);
  return result;
}

runtime::NSData* DozidiNSDataTracker::measureNSDataFromFile(const std::string& path, const ReadFileMethod& method) {
  TrackingScope scope;
  auto span = scope.outermost ? startTrackingReadingFilePath(path) : nullptr;
  auto result = method(path);
  if (span) finishTrackingNSData(result ? &result->data() : nullptr, span);
  return result;
}

runtime::NSData* DozidiNSDataTracker::measureNSDataFromFile(const std::string& path, std::uint32_t options,
                                                            foundation::Error* error,
                                                            const ReadFileOptionsMethod& method) {
  TrackingScope scope;
  auto span = scope.outermost ? startTrackingReadingFilePath(path) : nullptr;
  auto result = method(path, options, error);
  if (span) finishTrackingNSData(result ? &result->data() : nullptr, span);
  return result;
}

runtime::NSData* DozidiNSDataTracker::measureNSDataFromURL(const foundation::URL& url, std::uint32_t options,
                                                           foundation::Error* error, const ReadURLMethod& method) {
  if (!url.isFileURL()) return method(url, options, error);
  return measureNSDataFromFile(url.path(), options, error,
                               [&](const std::string&, std::uint32_t o, foundation::Error* e) { return method(url, o, e); });
}

std::shared_ptr<DozidiSpan> DozidiNSDataTracker::startTrackingWritingNSData(const foundation::Data& data,
                                                                           const std::string& path) {
  return spanForPath(path, kFileWrite, data.size());
}

std::shared_ptr<DozidiSpan> DozidiNSDataTracker::startTrackingReadingFilePath(const std::string& path) {
  return spanForPath(path, kFileRead, 0);
}

std::shared_ptr<DozidiSpan> DozidiNSDataTracker::spanForPath(const std::string& path, const std::string& operation,
                                                             std::uint64_t size) {
  if (!isEnabled() || ignoreFile(path)) return nullptr;
  std::shared_ptr<DozidiSpan> child;
  DozidiSDK::currentHub()->scope()->useSpan([&](const std::shared_ptr<DozidiSpan>& bound) {
    if (bound) child = bound->startChildWithOperation(operation, transactionDescriptionForFile(path, size));
  });
  if (!child) {
    DOZIDI_LOG_DEBUG("No transaction bound to scope. Won't track file IO operation.");
    return nullptr;
  }
  DOZIDI_LOG_DEBUG("DozidiNSDataTracker automatically started a new span with description: " +
                   child->context()->spanDescription().value_or("") + ", operation: " + operation);
  child->setDataValue(path, "file.path");
  return child;
}

bool DozidiNSDataTracker::ignoreFile(const std::string& path) const {
  auto client = DozidiSDK::currentHub()->getClient();
  if (!client || !client->fileManager()) return false;
  std::string folder = client->fileManager()->dozidiPath();
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  if (folder.empty() || path.compare(0, folder.size(), folder) != 0) return false;
  // A sibling folder that only shares the prefix ("…/io.dozidi-other") is not the SDK's own.
  return path.size() == folder.size() || path[folder.size()] == '/' || folder == "/";
}

std::string DozidiNSDataTracker::transactionDescriptionForFile(const std::string& path, std::uint64_t fileSize) {
  const std::string name = lastPathComponent(path);
  if (fileSize == 0) return name;
  return name + " (" + DozidiByteCountFormatter::bytesCountDescription(fileSize) + ")";
}

void DozidiNSDataTracker::finishTrackingNSData(const foundation::Data* data,
                                               const std::shared_ptr<DozidiSpan>& span) {
  span->setDataValue(static_cast<std::uint64_t>(data ? data->size() : 0), "file.size");
  span->finish();
  DOZIDI_LOG_DEBUG("DozidiNSDataTracker automatically finished span " + span->context()->spanDescription().value_or(""));
}
