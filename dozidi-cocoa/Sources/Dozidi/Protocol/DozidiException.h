#pragma once
#include <memory>
#include <optional>
#include <string>

#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiMechanism.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiStacktrace.h"
#include "platform/foundation/Value.h"

/// One exception of an event: what was thrown, how it was caught and where. A plain record.
class DozidiException {
 public:
  static std::shared_ptr<DozidiException> initWithValue(std::optional<std::string> value,
                                                        std::optional<std::string> type);

  std::optional<std::string> value;
  std::optional<std::string> type;
  std::shared_ptr<DozidiMechanism> mechanism;
  std::optional<std::string> module;
  std::optional<foundation::Number> threadId;
  std::shared_ptr<DozidiStacktrace> stacktrace;

  /// "value", "type", "mechanism", "module", "thread_id" and "stacktrace", each only when set.
  foundation::Dictionary serialize() const;

 private:
  DozidiException() = default;
};

/// A file read from the reporter's cache: its path and its bytes. Immutable.
class DozidiFileContents {
 public:
  DozidiFileContents(std::string path, foundation::Data contents)
      : path_(std::move(path)), contents_(std::move(contents)) {}
  const std::string& path() const { return path_; }
  const foundation::Data& contents() const { return contents_; }

 private:
  std::string path_;
  foundation::Data contents_;
};
