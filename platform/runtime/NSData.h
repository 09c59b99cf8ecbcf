#pragma once
// The platform's data object as a class of the object runtime: its file reads and writes are
// methods in the method table, so that an observer can replace them by name (the SDK's file I/O
// tracing does). The file work itself is foundation's (DataFile.h); the app reads and writes its
// files through this class.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/Data.h"
#include "platform/runtime/Methods.h"

namespace foundation {
class Error;
class URL;
}  // namespace foundation

namespace runtime {

/// A byte buffer with the data object's five file methods. Each public operation sends its
/// selector through the method table; the implementations registered for the class do the work:
///   "writeToFile:atomically:"                  bool(const std::string&, bool)
///   "writeToFile:options:error:"               bool(const std::string&, std::uint32_t, foundation::Error*)
///   "initWithContentsOfFile:"                  NSData*(const std::string&)
///   "initWithContentsOfFile:options:error:"    NSData*(const std::string&, std::uint32_t, foundation::Error*)
///   "initWithContentsOfURL:options:error:"     NSData*(const foundation::URL&, std::uint32_t, foundation::Error*)
/// An init fills the receiver and returns it, or returns null on failure. `initWithContentsOfFile:`
/// and `writeToFile:atomically:` send the variant with options, as the platform's do.
/// An instance belongs to one thread at a time; the class may be used from any thread.
class NSData : public Object {
 public:
  NSData() = default;
  explicit NSData(foundation::Data data) : data_(std::move(data)) {}
  static std::shared_ptr<NSData> create(foundation::Data data = {}) { return std::make_shared<NSData>(std::move(data)); }

  const foundation::Data& data() const { return data_; }
  foundation::Data takeData() { return std::move(data_); }
  std::size_t length() const { return data_.size(); }

  bool writeToFile(const std::string& path, bool atomically);
  bool writeToFile(const std::string& path, std::uint32_t options, foundation::Error* error);
  NSData* initWithContentsOfFile(const std::string& path);
  NSData* initWithContentsOfFile(const std::string& path, std::uint32_t options, foundation::Error* error);
  NSData* initWithContentsOfURL(const foundation::URL& url, std::uint32_t options, foundation::Error* error);

  /// The contents of the file at `path`, read through `initWithContentsOfFile:options:error:`;
  /// none with `*error` set (when not null) on failure.
  static std::optional<foundation::Data> dataWithContentsOfFile(const std::string& path, foundation::Error* error);
  /// The contents of the file a file URL names, read through `initWithContentsOfURL:options:error:`.
  static std::optional<foundation::Data> dataWithContentsOfURL(const foundation::URL& url, foundation::Error* error);
  /// Writes `data` through `writeToFile:options:error:`; false with `*error` set on failure.
  static bool writeData(foundation::Data data, const std::string& path, std::uint32_t options, foundation::Error* error);

  /// The selectors of the five methods, for those who replace them.
  static SEL writeToFileAtomicallySelector();
  static SEL writeToFileOptionsErrorSelector();
  static SEL initWithContentsOfFileSelector();
  static SEL initWithContentsOfFileOptionsErrorSelector();
  static SEL initWithContentsOfURLOptionsErrorSelector();

 private:
  foundation::Data data_;
};

}  // namespace runtime
