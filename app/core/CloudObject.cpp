#include "app/core/CloudObject.h"

#include <cmath>
#include <string>

#include "TovelCommon/CloudConfigValue.h"
#include "app/core/CloudObjectDownloader.h"
#include "app/core/RuleCompiler/RuleListReading.h"
#include "platform/foundation/DeviceRoot.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/Value.h"

namespace fendrel {
namespace {

using foundation::Dictionary;
using foundation::URL;
using foundation::Value;

std::optional<std::string> stringFor(const Dictionary& dictionary, std::string_view key) {
  return dictionary[key].asString();
}

/// A number that is exactly an integer that fits (12 and 12.0, not 12.5, "12" or true).
std::optional<std::int64_t> integerFor(const Dictionary& dictionary, std::string_view key) {
  const auto* number = dictionary[key].number();
  if (!number || number->isBool()) return std::nullopt;
  return number->exactInt64();
}

std::optional<URL> linkFor(const Dictionary& dictionary, std::string_view key,
                           const std::optional<URL>& baseUrl) {
  auto text = stringFor(dictionary, key);
  if (!text) return std::nullopt;
  return tovel::resolveConfigURL(*text, baseUrl);
}

/// The whole seconds of `seconds`, truncated toward zero, when they fit a signed 64-bit integer.
/// 2^63 is exactly representable as a double, so the bounds test is exact.
std::optional<std::int64_t> wholeSeconds(double seconds) {
  if (!std::isfinite(seconds)) return std::nullopt;
  double whole = std::trunc(seconds);
  constexpr double kLimit = 9223372036854775808.0;  // 2^63
  if (whole < -kLimit || whole >= kLimit) return std::nullopt;
  return static_cast<std::int64_t>(whole);
}

}  // namespace

std::optional<CloudObject> CloudObject::make(Kind kind, const Dictionary& dictionary,
                                             const std::optional<URL>& baseUrl) {
  auto name = stringFor(dictionary, "name");
  const auto* modifiedAt = dictionary["modifiedAt"].number();
  auto iconText = stringFor(dictionary, "iconUrl");
  if (!name || !modifiedAt || modifiedAt->isBool() || !iconText) return std::nullopt;
  auto iconUrl = tovel::resolveConfigURL(*iconText, baseUrl);
  if (!iconUrl) return std::nullopt;
  auto objectId = stringFor(dictionary, "objectId");
  if (!objectId) return std::nullopt;
  // An entry whose time has no whole-second form could never name its cache file.
  double seconds = modifiedAt->doubleValue();
  auto whole = wholeSeconds(seconds);
  if (!whole) return std::nullopt;

  CloudObject object(kind, std::move(*iconUrl));
  object.objectId_ = std::move(*objectId);
  object.name_ = std::move(*name);
  object.modifiedAt_ = foundation::Date::fromTimeIntervalSince1970(seconds);
  object.modifiedAtSeconds_ = *whole;
  object.debugOnly_ = dictionary["debugOnly"].asBool().value_or(false);

  if (kind == Kind::List) {
    auto attachmentUrl = linkFor(dictionary, "attachmentUrl", baseUrl);
    auto count = integerFor(dictionary, "count");
    auto desc = stringFor(dictionary, "desc");
    auto num = integerFor(dictionary, "num");
    if (!attachmentUrl || !count || !desc || !num) return std::nullopt;
    // The component becomes part of a file name in the cache folder: one that names a folder or
    // climbs out of it ("x/..", "a%2Fb", "/") must never reach the file system.
    if (!foundation::DeviceRoot::isPlainName(attachmentUrl->lastPathComponent())) return std::nullopt;
    object.attachmentUrl_ = std::move(*attachmentUrl);
    object.count_ = *count;
    object.desc_ = std::move(*desc);
    object.num_ = *num;
  } else {
    auto iTunesId = stringFor(dictionary, "iTunesId");
    if (!iTunesId) return std::nullopt;
    object.iTunesId_ = std::move(*iTunesId);
  }
  return object;
}

std::string CloudObject::localFileName(std::string_view lastPathComponent) const {
  std::string name = std::to_string(modifiedAtSeconds_);
  name.append(lastPathComponent);
  return name;
}

std::optional<URL> CloudObject::cachesFolderURL() {
  auto container = foundation::FileManager::defaultManager().containerURL(kAppGroupIdentifier);
  if (!container) return std::nullopt;
  return container->appendingPathComponent("Library/Caches", true);
}

std::optional<URL> CloudObject::cachesURL(std::string_view fileName) {
  if (!foundation::DeviceRoot::isPlainName(fileName)) return std::nullopt;
  auto folder = cachesFolderURL();
  if (!folder) return std::nullopt;
  return folder->appendingPathComponent(fileName);
}

std::optional<URL> CloudObject::attachmentCacheURL() const {
  if (!attachmentUrl_) return std::nullopt;
  return cachesURL(localFileName(attachmentUrl_->lastPathComponent()));
}

std::optional<URL> CloudObject::existingAttachmentURL() const {
  auto url = attachmentCacheURL();
  // A damaged file counts as missing: it is downloaded again rather than compiled as no rules.
  if (!url || !isReadableRuleList(*url)) return std::nullopt;
  return url;
}

void CloudObject::downloadAttachment(ProgressBlock progress, CompletionBlock completion) const {
  if (existingAttachmentURL()) {
    if (completion) completion();
    return;
  }
  if (!attachmentUrl_) return;
  auto destination = attachmentCacheURL();
  if (!destination) return;
  // The downloader keeps itself alive through its session until the task has ended.
  CloudObjectDownloader::create(*attachmentUrl_, *destination, std::move(progress), std::move(completion));
}

std::optional<std::string> CloudObject::lastDownloadFailure() const {
  auto destination = attachmentCacheURL();
  if (!destination) return std::nullopt;
  return CloudObjectDownloader::lastFailure(*destination);
}

}  // namespace fendrel
