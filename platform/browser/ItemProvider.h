#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "platform/foundation/URL.h"

namespace browser {

/// One attachment of an extension item: a file the extension hands to the browser (the platform's
/// NSItemProvider made from a file URL). It names the file and the size it had when the provider
/// was made; the browser reads the bytes itself.
class ItemProvider {
 public:
  /// A provider for the file at `url`, or null when it cannot be read: not a file URL, missing, not
  /// a regular file, no permission or a failed read. An empty file is readable.
  static std::shared_ptr<ItemProvider> fromContentsOfURL(const foundation::URL& url);

  /// The file's absolute path, as the browser will open it.
  const std::string& path() const { return path_; }
  /// The number of bytes read when the provider was made.
  std::uint64_t size() const { return size_; }

  ItemProvider(std::string path, std::uint64_t size) : path_(std::move(path)), size_(size) {}

 private:
  std::string path_;
  std::uint64_t size_;
};

}  // namespace browser
