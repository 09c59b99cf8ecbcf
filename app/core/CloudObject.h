#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "TovelCommon/URLSessionExtensions.h"
#include "platform/foundation/Date.h"
#include "platform/foundation/URL.h"
#include "platform/foundation/ValueFwd.h"

namespace uikit {
struct CGSize;
class UIImage;
}  // namespace uikit

namespace fendrel {

/// The app group whose container holds the settings, the cached lists and "output.json".
inline constexpr const char* kAppGroupIdentifier = "group.com.morvit.Fendrel";

/// One entry of the catalogue that the remote configuration carries: a filter list, whose rule file
/// the app downloads, caches and compiles, or a promoted app. A value type, immutable once made, so
/// any thread may read it.
class CloudObject {
 public:
  enum class Kind : std::uint8_t { List, App };

  /// Fraction of the download from 0 to 1, or none when no fraction can be given or the download
  /// failed.
  using ProgressBlock = std::function<void(std::optional<float>)>;
  using CompletionBlock = std::function<void()>;

  /// Builds an entry from one dictionary of the configuration's "lists" or "apps" array. Links are
  /// resolved against `baseUrl`, the URL of the configuration file. None when a required key is
  /// missing or of another type, when a link does not resolve, when "modifiedAt" is not finite or
  /// its whole seconds do not fit a signed 64-bit integer (the entry could have no cache file), or
  /// when the last path component of a list's attachment could not stand as a file name in the
  /// cache folder (empty, ".", "..", or holding "/" or NUL).
  static std::optional<CloudObject> make(Kind kind, const foundation::Dictionary& dictionary,
                                         const std::optional<foundation::URL>& baseUrl);

  Kind kind() const { return kind_; }
  const std::string& objectId() const { return objectId_; }
  const std::string& name() const { return name_; }
  /// The modification time of the entry.
  foundation::Date modifiedAt() const { return modifiedAt_; }
  const std::string& iTunesId() const { return iTunesId_; }
  const foundation::URL& iconUrl() const { return iconUrl_; }
  /// The address of a list's JSON rule file; none for an app.
  const std::optional<foundation::URL>& attachmentUrl() const { return attachmentUrl_; }
  std::int64_t num() const { return num_; }
  std::int64_t count() const { return count_; }
  const std::string& desc() const { return desc_; }
  bool debugOnly() const { return debugOnly_; }

  /// The cache file name for a file whose last path component is `lastPathComponent`: the whole
  /// seconds of the modification time since 1970 in decimal, then the component
  /// ("1600000000rules.json").
  std::string localFileName(std::string_view lastPathComponent) const;
  /// `fileName` in the cache folder "Library/Caches" of the app group's container; none when there
  /// is no container, or when `fileName` could not stand as one file name in that folder.
  static std::optional<foundation::URL> cachesURL(std::string_view fileName);
  /// The cache file name of a catalogue icon: the components of `iconUrl`'s path, as they stand
  /// in the URL (percent-encoded, so no component can hold a separator), joined with "_", without
  /// the root: "https://host/img/a.png" gives "img_a.png". None when that leaves no name that can
  /// stand as one file name: an empty path, "." or "..", or more than 255 bytes.
  static std::optional<std::string> iconCacheFileName(const foundation::URL& iconUrl);
  /// The cache file of a catalogue icon, in the same folder as the rule files. The screen that
  /// reads icons and iconLoaded, which writes them, both go through it. None without a container
  /// or a file name, and whenever the joined URL would not lie directly in the cache folder.
  static std::optional<foundation::URL> iconCacheURL(const foundation::URL& iconUrl);
  /// Completion of a catalogue icon's data task. On success it writes the data atomically to
  /// `iconFileURL` (creating its folders; a failed write is dropped, as the icon is only a cache)
  /// and decodes a thumbnail for `size` points (tovel::downsample), handing it to `completion` on
  /// the main queue when an image could be made. On failure nothing happens and the completion
  /// is not called. Any thread.
  static void iconLoaded(const foundation::Result<tovel::DataWithBaggage>& result, const foundation::URL& iconFileURL,
                         const uikit::CGSize& size, std::function<void(std::shared_ptr<uikit::UIImage>)> completion);

  /// The cached rule file of the list when a readable one exists there: a file that cannot be
  /// read or is not JSON counts as missing (isReadableRuleList), so it is downloaded again.
  std::optional<foundation::URL> existingAttachmentURL() const;

  /// Downloads the list's rule file into the cache. Called on the main thread. When the file is
  /// cached already, `completion` runs at once, within the call. Without an attachment or a
  /// container nothing happens. Otherwise a download starts (or waits for its turn) whose closures
  /// run on the main queue.
  void downloadAttachment(ProgressBlock progress, CompletionBlock completion) const;
  /// Why the last download of the list's file in this process stored nothing ("the server
  /// answered with status 404"); none when it stored the file or none has ended.
  std::optional<std::string> lastDownloadFailure() const;

 private:
  CloudObject(Kind kind, foundation::URL iconUrl) : kind_(kind), iconUrl_(std::move(iconUrl)) {}
  /// The folder "Library/Caches" of the app group's container; none without a container.
  static std::optional<foundation::URL> cachesFolderURL();
  /// The cache URL of the attachment, whether or not the file exists.
  std::optional<foundation::URL> attachmentCacheURL() const;

  Kind kind_;
  std::string objectId_;
  std::string name_;
  foundation::Date modifiedAt_;
  std::string iTunesId_;
  foundation::URL iconUrl_;
  std::optional<foundation::URL> attachmentUrl_;
  std::int64_t num_ = 0;
  std::int64_t count_ = 0;
  std::string desc_;
  bool debugOnly_ = false;
  /// The whole seconds of "modifiedAt" since 1970, checked to fit at construction.
  std::int64_t modifiedAtSeconds_ = 0;
};

}  // namespace fendrel
