#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiFileManager.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cinttypes>
#include <cstdio>

#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiDependencyContainer.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiMigrateSessionInit.h"
#include "dozidi-cocoa/Sources/Dozidi/Hub/DozidiOptions.h"
#include "dozidi-cocoa/Sources/Dozidi/Integrations/DozidiAppState.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiError.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiSession.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiCurrentDate.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiDispatchQueueWrapper.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiFoundationHelpers.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiLog.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiDsn.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiEnvelope.h"
#include "dozidi-cocoa/Sources/Dozidi/Transport/DozidiSerialization.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/JSONSerialization.h"
#include "platform/foundation/UUID.h"

namespace {

// The platform's error code for an operation on an item that does not exist.
constexpr std::int64_t kNoSuchFile = 4;

foundation::FileManager& files() { return foundation::FileManager::defaultManager(); }

std::string join(const std::string& folder, const std::string& name) {
  if (!folder.empty() && folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

bool lessIgnoringCase(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) < std::tolower(static_cast<unsigned char>(y));
  });
}

std::vector<std::string> splitLines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t from = 0;
  while (from <= text.size()) {
    const auto at = text.find('\n', from);
    lines.emplace_back(text.substr(from, at == std::string_view::npos ? std::string_view::npos : at - from));
    if (at == std::string_view::npos) break;
    from = at + 1;
  }
  return lines;
}

/// The lines of a text file; none when it is missing or cannot be read.
std::vector<std::string> readLines(const std::string& path) {
  const auto data = files().readFile(path);
  if (!data.ok()) return {};
  return splitLines(data->view());
}

void moveOver(const std::string& from, const std::string& to) {
  if (!files().fileExists(from)) return;
  (void)files().removeItem(to);
  if (auto moved = files().moveItem(from, to); !moved.ok() && moved.error().code() != kNoSuchFile) {
    DOZIDI_LOG_ERROR("Failed to move " + from + " to " + to + ": " + moved.error().localizedDescription());
  }
}

// Sessions and client reports describe the run and are sent again as the run goes on: their
// envelopes skip the flush to disk (see the class comment). Everything else is flushed.
foundation::FlushToDisk flushFor(const DozidiEnvelope& envelope) {
  for (const auto& item : envelope.items()) {
    const std::string& type = item->header().type;
    if (type != "session" && type != "client_report") return foundation::FlushToDisk::Yes;
  }
  return foundation::FlushToDisk::No;
}

}  // namespace

std::shared_ptr<DozidiFileManager> DozidiFileManager::initWithOptions(
    const DozidiOptions& options, std::shared_ptr<DozidiCurrentDateProvider> currentDateProvider,
    foundation::Error* error) {
  return initWithOptions(options, std::move(currentDateProvider),
                         DozidiDependencyContainer::sharedInstance()->dispatchQueueWrapper(), error);
}

std::shared_ptr<DozidiFileManager> DozidiFileManager::initWithOptions(
    const DozidiOptions& options, std::shared_ptr<DozidiCurrentDateProvider> currentDateProvider,
    const std::shared_ptr<DozidiDispatchQueueWrapper>& dispatchQueueWrapper, foundation::Error* error) {
  // Without a DSN there is no folder to keep anything in.
  if (!options.parsedDsn()) {
    if (error) *error = NSErrorFromDozidiError(DozidiError::InvalidDsnError, "The options have no DSN");
    return nullptr;
  }
  std::shared_ptr<DozidiFileManager> manager(new DozidiFileManager(std::move(currentDateProvider)));
  const auto caches = files().cachesDirectory().path();
  DOZIDI_LOG_DEBUG("DozidiFileManager.cachePath: " + caches);
  manager->basePath_ = join(caches, "io.dozidi");
  manager->dozidiPath_ = join(manager->basePath_, options.parsedDsn()->getHash());
  if (!files().fileExists(manager->dozidiPath_)) createDirectoryAtPath(manager->dozidiPath_, error);

  const auto& dir = manager->dozidiPath_;
  manager->currentSessionFilePath_ = join(dir, "session.current");
  manager->crashedSessionFilePath_ = join(dir, "session.crashed");
  manager->lastInForegroundFilePath_ = join(dir, "lastInForeground.timestamp");
  manager->previousAppStateFilePath_ = join(dir, "previous.app.state");
  manager->appStateFilePath_ = join(dir, "app.state");
  manager->timezoneOffsetFilePath_ = join(dir, "timezone.offset");
  manager->breadcrumbsFilePathOne_ = join(dir, "breadcrumbs.1.state");
  manager->breadcrumbsFilePathTwo_ = join(dir, "breadcrumbs.2.state");
  manager->previousBreadcrumbsFilePathOne_ = join(dir, "previous.breadcrumbs.1.state");
  manager->previousBreadcrumbsFilePathTwo_ = join(dir, "previous.breadcrumbs.2.state");

  manager->eventsPath_ = join(dir, "events");
  (void)files().removeItem(manager->eventsPath_);
  manager->envelopesPath_ = join(dir, "envelopes");
  manager->createDirectoryIfNotExists(manager->envelopesPath_, error);
  manager->maxEnvelopes_ = options.maxCacheItems;

  if (dispatchQueueWrapper) {
    std::weak_ptr<DozidiFileManager> weak = manager;
    dispatchQueueWrapper->dispatchAfter(kAgeCleanupDelay, [weak] {
      if (auto self = weak.lock()) self->deleteOldEnvelopesFromAllDozidiPaths();
    });
  }
  return manager;
}

void DozidiFileManager::setDelegate(std::weak_ptr<DozidiFileManagerDelegate> delegate) {
  std::lock_guard guard(lock_);
  delegate_ = std::move(delegate);
}

std::optional<std::string> DozidiFileManager::storeEnvelope(const DozidiEnvelope& envelope) {
  auto stored = storeEnvelopeContents(envelope);
  if (!stored) return std::nullopt;
  return stored->path();
}

std::optional<DozidiFileContents> DozidiFileManager::storeEnvelopeContents(const DozidiEnvelope& envelope) {
  foundation::Error error("", 0);
  auto data = DozidiSerialization::dataWithEnvelope(envelope, &error);
  if (!data) {
    DOZIDI_LOG_ERROR("Could not store the envelope: " + error.localizedDescription());
    return std::nullopt;
  }
  std::lock_guard guard(lock_);
  auto path = storeData(*data, envelopesPath_, flushFor(envelope));
  if (!path) return std::nullopt;
  handleEnvelopesLimit();
  return DozidiFileContents(std::move(*path), std::move(*data));
}

std::optional<std::string> DozidiFileManager::storeData(const foundation::Data& data, const std::string& folder,
                                                        foundation::FlushToDisk flush) {
  std::lock_guard guard(lock_);
  char prefix[64];
  std::snprintf(prefix, sizeof prefix, "%f-%05" PRIu64 "-", currentDateProvider_->date().timeIntervalSince1970(),
                currentFileCounter_++);
  const auto path = join(folder, prefix + foundation::UUID().uuidString() + ".json");
  DOZIDI_LOG_DEBUG("Writing to file: " + path);
  if (auto written = files().writeFileAtomically(path, data.view(), flush); !written.ok()) {
    DOZIDI_LOG_ERROR("Couldn't write file " + path + ": " + written.error().localizedDescription());
    return std::nullopt;
  }
  return path;
}

std::string DozidiFileManager::storeDictionary(const foundation::Dictionary& dictionary, const std::string& folder) {
  const auto data = DozidiSerialization::dataWithJSONObject(foundation::Value(dictionary), nullptr);
  if (!data) return folder;
  return storeData(*data, folder).value_or(folder);
}

void DozidiFileManager::handleEnvelopesLimit() {
  std::lock_guard guard(lock_);
  auto names = allFilesInFolder(envelopesPath_);
  if (names.size() <= maxEnvelopes_) return;
  const auto excess = names.size() - maxEnvelopes_;
  const auto delegate = delegate_.lock();
  for (std::size_t i = 0; i < excess; ++i) {
    const auto path = join(envelopesPath_, names[i]);
    const auto contents = files().readFile(path);
    const auto envelope = contents.ok() ? DozidiSerialization::envelopeWithData(contents->view()) : nullptr;
    if (envelope) {
      auto others = names;
      others.erase(others.begin() + static_cast<std::ptrdiff_t>(i));
      const bool migrated = DozidiMigrateSessionInit::migrateSessionInit(envelope, envelopesPath_, others);
      for (const auto& item : envelope->items()) {
        const auto category = dozidiDataCategoryForEnvelopeItemType(item->header().type);
        if (migrated && category == DozidiDataCategory::Session) continue;
        if (delegate) delegate->envelopeItemDeleted(category);
      }
    }
    removeFileAtPath(path);
  }
  DOZIDI_LOG_DEBUG("Removed " + std::to_string(excess) + " file(s) from <" + envelopesPath_ + ">");
}

std::vector<std::string> DozidiFileManager::allFilesInFolder(const std::string& path) {
  auto names = files().contentsOfDirectory(path);
  if (!names.ok()) {
    DOZIDI_LOG_ERROR("Couldn't load files in folder " + path + ": " + names.error().localizedDescription());
    return {};
  }
  std::stable_sort(names->begin(), names->end(), lessIgnoringCase);
  return std::move(*names);
}

std::optional<DozidiFileContents> DozidiFileManager::getFileContents(const std::string& folder,
                                                                     const std::string& name) {
  const auto path = join(folder, name);
  auto data = files().readFile(path);
  if (!data.ok()) return std::nullopt;
  return DozidiFileContents(path, std::move(*data));
}

std::vector<DozidiFileContents> DozidiFileManager::getAllEnvelopes() {
  std::lock_guard guard(lock_);
  std::vector<DozidiFileContents> all;
  for (const auto& name : allFilesInFolder(envelopesPath_)) {
    if (auto contents = getFileContents(envelopesPath_, name)) all.push_back(std::move(*contents));
  }
  return all;
}

std::optional<DozidiFileContents> DozidiFileManager::getOldestEnvelope(const DozidiFileContents* known) {
  std::vector<std::string> names;
  {
    std::lock_guard guard(lock_);
    names = allFilesInFolder(envelopesPath_);
  }
  for (const auto& name : names) {
    // Still listed, so still there: its bytes are the ones written, no need to read them back.
    if (known != nullptr && join(envelopesPath_, name) == known->path()) return *known;
    if (auto contents = getFileContents(envelopesPath_, name)) return contents;
    // Gone meanwhile (the count limit removed it) or a folder: go on with the next name. A file
    // that is there but cannot be read would stop every later envelope, so it goes.
    const auto path = join(envelopesPath_, name);
    bool isDirectory = false;
    if (files().fileExists(path, &isDirectory) && !isDirectory) {
      DOZIDI_LOG_ERROR("Removing envelope that cannot be read: " + path);
      removeFileAtPath(path);
    }
  }
  return std::nullopt;
}

void DozidiFileManager::deleteAllEnvelopes() {
  std::lock_guard guard(lock_);
  for (const auto& name : allFilesInFolder(envelopesPath_)) removeFileAtPath(join(envelopesPath_, name));
}

void DozidiFileManager::deleteOldEnvelopesFromAllDozidiPaths() {
  const auto entries = files().contentsOfDirectory(basePath_);
  if (!entries.ok()) return;
  for (const auto& entry : *entries) {
    const auto path = join(basePath_, entry);
    const auto attributes = files().attributesOfItem(path);
    if (!attributes.ok() || attributes->type != foundation::FileType::Directory) {
      DOZIDI_LOG_DEBUG("Could not get NSFileTypeDirectory from " + path);
      continue;
    }
    deleteOldEnvelopesFromPath(join(path, "envelopes"));
  }
}

void DozidiFileManager::deleteOldEnvelopesFromPath(const std::string& path) {
  const auto now = currentDateProvider_->date();
  for (const auto& name : allFilesInFolder(path)) {
    const auto file = join(path, name);
    const auto attributes = files().attributesOfItem(file);
    if (!attributes.ok()) {
      DOZIDI_LOG_DEBUG("Could not get NSFileCreationDate from " + file);
      continue;
    }
    // Compared as dates, so that a file exactly 90 days old is kept whatever the rounding.
    if (now > attributes->creationDate.addingTimeInterval(kMaxEnvelopeAge)) {
      removeFileAtPath(file);
      DOZIDI_LOG_DEBUG("Removed envelope at path " + file + " because it was older than 90 days");
    }
  }
}

bool DozidiFileManager::removeFileAtPath(const std::string& path) {
  std::lock_guard guard(lock_);
  const auto removed = files().removeItem(path);
  if (removed.ok()) return true;
  if (removed.error().code() != kNoSuchFile) {
    DOZIDI_LOG_ERROR("Couldn't delete file " + path + ": " + removed.error().localizedDescription());
  }
  return false;
}

void DozidiFileManager::deleteAllFolders() { (void)files().removeItem(dozidiPath_); }

void DozidiFileManager::storeSession(const DozidiSession& session, const std::string& path) {
  const auto data = DozidiSerialization::dataWithSession(session, nullptr);
  if (!data) return;
  std::lock_guard guard(sessionLock_);
  DOZIDI_LOG_DEBUG("Writing session: " + path);
  (void)files().writeFileAtomically(path, data->view(), foundation::FlushToDisk::No);
}

std::shared_ptr<DozidiSession> DozidiFileManager::readSession(const std::string& path) {
  std::lock_guard guard(sessionLock_);
  DOZIDI_LOG_DEBUG("Reading from session: " + path);
  const auto data = files().readFile(path);
  if (!data.ok()) return nullptr;
  auto session = DozidiSerialization::sessionWithData(data->view());
  if (!session) DOZIDI_LOG_ERROR("Data stored in session: '" + path + "' was not parsed as session.");
  return session;
}

void DozidiFileManager::deleteSession(const std::string& path) {
  std::lock_guard guard(sessionLock_);
  DOZIDI_LOG_DEBUG("Deleting session: " + path);
  (void)files().removeItem(path);
}

void DozidiFileManager::storeCurrentSession(const DozidiSession& session) {
  storeSession(session, currentSessionFilePath_);
}
void DozidiFileManager::storeCrashedSession(const DozidiSession& session) {
  storeSession(session, crashedSessionFilePath_);
}
std::shared_ptr<DozidiSession> DozidiFileManager::readCurrentSession() { return readSession(currentSessionFilePath_); }
std::shared_ptr<DozidiSession> DozidiFileManager::readCrashedSession() { return readSession(crashedSessionFilePath_); }
void DozidiFileManager::deleteCurrentSession() { deleteSession(currentSessionFilePath_); }
void DozidiFileManager::deleteCrashedSession() { deleteSession(crashedSessionFilePath_); }

void DozidiFileManager::storeTimestampLastInForeground(foundation::Date timestamp) {
  std::lock_guard guard(timestampLock_);
  const auto text = dozidi_toIso8601String(timestamp);
  DOZIDI_LOG_DEBUG("Persisting lastInForeground: " + text);
  (void)files().writeFileAtomically(lastInForegroundFilePath_, std::string_view(text), foundation::FlushToDisk::No);
}

std::optional<foundation::Date> DozidiFileManager::readTimestampLastInForeground() {
  std::lock_guard guard(timestampLock_);
  DOZIDI_LOG_DEBUG("Reading timestamp of last in foreground at: " + lastInForegroundFilePath_);
  const auto data = files().readFile(lastInForegroundFilePath_);
  if (!data.ok()) {
    DOZIDI_LOG_DEBUG("No lastInForeground found.");
    return std::nullopt;
  }
  return dozidi_fromIso8601String(data->view());
}

void DozidiFileManager::deleteTimestampLastInForeground() {
  std::lock_guard guard(timestampLock_);
  DOZIDI_LOG_DEBUG("Deleting LastInForeground at: " + lastInForegroundFilePath_);
  (void)files().removeItem(lastInForegroundFilePath_);
}

void DozidiFileManager::moveAppStateToPreviousAppState() {
  std::lock_guard guard(appStateLock_);
  moveOver(appStateFilePath_, previousAppStateFilePath_);
}

void DozidiFileManager::storeAppState(const DozidiAppState& appState) {
  foundation::Error error("", 0);
  const auto data = DozidiSerialization::dataWithJSONObject(foundation::Value(appState.serialize()), &error);
  if (!data) {
    DOZIDI_LOG_ERROR("Failed to store app state, because of an error in serialization: " + foundation::Value(error).description());
    return;
  }
  std::lock_guard guard(appStateLock_);
  if (auto written = files().writeFileAtomically(appStateFilePath_, data->view(), foundation::FlushToDisk::No);
      !written.ok()) {
    DOZIDI_LOG_ERROR("Failed to store app state " + written.error().localizedDescription());
  }
}

std::shared_ptr<DozidiAppState> DozidiFileManager::readAppStateFrom(const std::string& path) {
  std::lock_guard guard(appStateLock_);
  const auto data = files().readFile(path);
  if (!data.ok()) return nullptr;
  const auto parsed = foundation::JSONSerialization::JSONObjectWithData(data->view());
  const foundation::Dictionary* json = parsed.ok() ? parsed->dictionary() : nullptr;
  if (json == nullptr) {
    DOZIDI_LOG_ERROR("Failed to read app state at " + path);
    return nullptr;
  }
  return DozidiAppState::initWithJSONObject(*json);
}

std::shared_ptr<DozidiAppState> DozidiFileManager::readAppState() { return readAppStateFrom(appStateFilePath_); }

std::shared_ptr<DozidiAppState> DozidiFileManager::readPreviousAppState() {
  return readAppStateFrom(previousAppStateFilePath_);
}

void DozidiFileManager::deleteAppState() {
  std::lock_guard guard(appStateLock_);
  (void)files().removeItem(appStateFilePath_);
}

void DozidiFileManager::moveBreadcrumbsToPreviousBreadcrumbs() {
  std::lock_guard guard(breadcrumbsLock_);
  moveOver(breadcrumbsFilePathOne_, previousBreadcrumbsFilePathOne_);
  moveOver(breadcrumbsFilePathTwo_, previousBreadcrumbsFilePathTwo_);
}

std::vector<foundation::Value> DozidiFileManager::readPreviousBreadcrumbs() {
  auto one = readLines(previousBreadcrumbsFilePathOne_);
  auto two = readLines(previousBreadcrumbsFilePathTwo_);
  // A file ending in a newline yields an empty last line: that is the layout, not damage.
  const auto dropEmpty = [](std::vector<std::string>& lines) {
    std::erase_if(lines, [](const std::string& line) { return line.empty(); });
  };
  dropEmpty(one);
  dropEmpty(two);
  std::vector<std::string> lines;
  if (one.size() > two.size()) {
    lines = std::move(one);
    lines.insert(lines.end(), two.begin(), two.end());
  } else {
    lines = std::move(two);
    lines.insert(lines.end(), one.begin(), one.end());
  }
  std::vector<foundation::Value> breadcrumbs;
  for (const auto& line : lines) {
    auto parsed = foundation::JSONSerialization::JSONObjectWithData(line);
    if (!parsed.ok()) {
      DOZIDI_LOG_ERROR("Error deserializing breadcrumb: " + line);
      continue;
    }
    breadcrumbs.push_back(std::move(*parsed));
  }
  return breadcrumbs;
}

void DozidiFileManager::storeTimezoneOffset(std::int64_t offset) {
  std::lock_guard guard(timezoneLock_);
  const auto text = std::to_string(offset);
  DOZIDI_LOG_DEBUG("Persisting timezone offset: " + text);
  if (auto written = files().writeFileAtomically(timezoneOffsetFilePath_, std::string_view(text), foundation::FlushToDisk::No);
      !written.ok()) {
    DOZIDI_LOG_ERROR("Failed to store timezone offset: " + written.error().localizedDescription());
  }
}

std::optional<std::int64_t> DozidiFileManager::readTimezoneOffset() {
  std::lock_guard guard(timezoneLock_);
  DOZIDI_LOG_DEBUG("Reading timezone offset");
  const auto data = files().readFile(timezoneOffsetFilePath_);
  if (!data.ok()) {
    DOZIDI_LOG_DEBUG("No timezone offset found.");
    return std::nullopt;
  }
  const auto text = data->view();
  std::int64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

void DozidiFileManager::deleteTimezoneOffset() {
  std::lock_guard guard(timezoneLock_);
  if (auto removed = files().removeItem(timezoneOffsetFilePath_); !removed.ok() && removed.error().code() != kNoSuchFile) {
    DOZIDI_LOG_ERROR("Failed to delete timezone offset " + removed.error().localizedDescription());
  }
}

bool DozidiFileManager::createDirectoryAtPath(const std::string& path, foundation::Error* error) {
  const auto created = files().createDirectory(path, foundation::Intermediates::Yes);
  if (!created.ok() && error) *error = created.error();
  return created.ok();
}

bool DozidiFileManager::createDirectoryIfNotExists(const std::string& path, foundation::Error* error) {
  return createDirectoryAtPath(path, error);
}
