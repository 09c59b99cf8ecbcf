#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/foundation/Data.h"

class DozidiSpan;
namespace foundation {
class Error;
class URL;
}  // namespace foundation
namespace runtime {
class NSData;
}

/// Opens a child span of the scope's bound span around each file read ("file.read") or write
/// ("file.write") of the data object's file methods, with the data "file.path" and "file.size".
/// One shared instance; any thread may call every operation. A disabled tracker, a file inside the
/// SDK's own folder, a URL of another scheme and an operation nested inside another traced
/// operation of the same thread only pass the call through.
///
/// Each measure operation calls `method` (the replaced implementation) exactly once with the
/// arguments it was given and returns its result unchanged; the error out-parameter is passed
/// through untouched.
class DozidiNSDataTracker {
 public:
  using WriteAtomicallyMethod = std::function<bool(const std::string& path, bool useAuxiliaryFile)>;
  using WriteOptionsMethod = std::function<bool(const std::string& path, std::uint32_t options, foundation::Error*)>;
  /// A read returns the filled data object, or null on failure.
  using ReadFileMethod = std::function<runtime::NSData*(const std::string& path)>;
  using ReadFileOptionsMethod =
      std::function<runtime::NSData*(const std::string& path, std::uint32_t options, foundation::Error*)>;
  using ReadURLMethod =
      std::function<runtime::NSData*(const foundation::URL& url, std::uint32_t options, foundation::Error*)>;

  static std::shared_ptr<DozidiNSDataTracker> sharedInstance();

  void enable();
  void disable();
  bool isEnabled() const;

  bool measureNSData(const foundation::Data& data, const std::string& path, bool useAuxiliaryFile,
                     const WriteAtomicallyMethod& method);
  bool measureNSData(const foundation::Data& data, const std::string& path, std::uint32_t options,
                     foundation::Error* error, const WriteOptionsMethod& method);
  runtime::NSData* measureNSDataFromFile(const std::string& path, const ReadFileMethod& method);
  runtime::NSData* measureNSDataFromFile(const std::string& path, std::uint32_t options, foundation::Error* error,
                                         const ReadFileOptionsMethod& method);
  runtime::NSData* measureNSDataFromURL(const foundation::URL& url, std::uint32_t options, foundation::Error* error,
                                        const ReadURLMethod& method);

  /// The child span for a file operation, or none (disabled, ignored path, no bound span).
  std::shared_ptr<DozidiSpan> spanForPath(const std::string& path, const std::string& operation, std::uint64_t size);
  /// True for `path` inside the SDK's own folder (compared by whole path components).
  bool ignoreFile(const std::string& path) const;
  /// The file name, followed by the byte-count text in parentheses when `fileSize` is not 0.
  static std::string transactionDescriptionForFile(const std::string& path, std::uint64_t fileSize);
  /// Sets "file.size" to the data's length (0 for none) and finishes the span with status ok.
  static void finishTrackingNSData(const foundation::Data* data, const std::shared_ptr<DozidiSpan>& span);

  /// The calling thread's count of traced file operations under way; none when there is none.
  static std::optional<int> trackingCounterOfCurrentThread();

 private:
  std::shared_ptr<DozidiSpan> startTrackingWritingNSData(const foundation::Data& data, const std::string& path);
  std::shared_ptr<DozidiSpan> startTrackingReadingFilePath(const std::string& path);

  mutable std::mutex lock_;
  bool isEnabled_ = false;
};
