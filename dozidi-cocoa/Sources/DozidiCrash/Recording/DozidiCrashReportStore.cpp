#include "DozidiCrashReportStore.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <mutex>
#include <vector>

#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashFileUtils.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashFormat.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashLogger.h"

namespace {

/// Larger reports are read from their tail: the beginning is what a truncated read gives up.
constexpr std::int64_t kMaxReportReadSize = 2'000'000;
/// IDs tried at crash time before the path of an existing file is used anyway (and its open fails).
constexpr int kMaxPathAttempts = 64;
/// Bits below the seconds of the seed: room for that many reports per second of start time.
constexpr int kSeedCounterBits = 20;

static_assert(std::atomic<std::uint64_t>::is_always_lock_free, "the crash path needs a lock-free counter");

// The names are fixed arrays so that the crash path reads them without any allocation.
char g_appName[kDozidiCrashStorePathSize];
char g_reportsPath[kDozidiCrashStorePathSize];
std::atomic<std::uint64_t> g_nextReportID{1};
std::atomic<int> g_maxReportCount{5};
/// False when the longest name ("…-attachments") would not fit a path buffer: a cut path could
/// name another file, so no report path is handed out then.
std::atomic<bool> g_pathsFit{false};
std::mutex g_mutex;

void formatReportPath(std::int64_t reportID, char* buffer) {
  dozidicrashfmt_format(buffer, kDozidiCrashStorePathSize, "%s/%s-report-%016llx.json", g_reportsPath,
                        g_appName, static_cast<unsigned long long>(reportID));
}

/// The hexadecimal ID that follows `prefix` in `name` and is followed by `suffix` (any suffix
/// when null); 0 when the name has another shape.
std::int64_t parseReportID(const char* name, const char* prefix, std::size_t prefixLength, const char* suffix) {
  if (std::strncmp(name, prefix, prefixLength) != 0) return 0;
  const char* p = name + prefixLength;
  std::uint64_t id = 0;
  int digits = 0;
  for (; digits < 16; ++digits, ++p) {
    const char c = *p;
    int value;
    if (c >= '0' && c <= '9') value = c - '0';
    else if (c >= 'a' && c <= 'f') value = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') value = c - 'A' + 10;
    else break;
    id = id * 16 + static_cast<std::uint64_t>(value);
  }
  if (digits == 0) return 0;
  if (suffix != nullptr && std::strcmp(p, suffix) != 0) return 0;
  const auto signedID = static_cast<std::int64_t>(id);
  return signedID > 0 ? signedID : 0;
}

std::int64_t reportIDFromFileName(const char* name) {
  char prefix[kDozidiCrashStorePathSize];
  const std::size_t length = dozidicrashfmt_format(prefix, sizeof prefix, "%s-report-", g_appName);
  return parseReportID(name, prefix, length, ".json");
}

bool isRegularFile(const char* directory, const dirent* entry) {
  if (entry->d_type == DT_REG) return true;
  if (entry->d_type != DT_UNKNOWN) return false;
  char path[kDozidiCrashStorePathSize];
  dozidicrashfmt_format(path, sizeof path, "%s/%s", directory, entry->d_name);
  struct stat info;
  return ::lstat(path, &info) == 0 && S_ISREG(info.st_mode);
}

/// Every stored report ID, ascending. Caller holds the mutex.
std::vector<std::int64_t> listReportIDsLocked() {
  std::vector<std::int64_t> ids;
  DIR* dir = ::opendir(g_reportsPath);
  if (dir == nullptr) {
    DOZIDICRASHLOG_ERROR("Could not open directory %s", g_reportsPath);
    return ids;
  }
  while (const dirent* entry = ::readdir(dir)) {
    const std::int64_t id = reportIDFromFileName(entry->d_name);
    if (id > 0 && isRegularFile(g_reportsPath, entry)) ids.push_back(id);
  }
  ::closedir(dir);
  std::sort(ids.begin(), ids.end());
  return ids;
}

void deleteReportLocked(std::int64_t reportID) {
  char path[kDozidiCrashStorePathSize];
  formatReportPath(reportID, path);
  dozidicrashfu_removeFile(path, true);
  dozidicrashstore_getAttachmentsPath(reportID, path);
  dozidicrashfu_deletePath(path);
}

void pruneLocked() {
  const std::vector<std::int64_t> ids = listReportIDsLocked();
  const int maximum = g_maxReportCount.load();
  const auto excess = static_cast<std::ptrdiff_t>(ids.size()) - maximum;
  for (std::ptrdiff_t i = 0; i < excess; ++i) deleteReportLocked(ids[static_cast<std::size_t>(i)]);
}

}  // namespace

void dozidicrashstore_initialize(const char* appName, const char* reportsPath) {
  std::lock_guard lock(g_mutex);
  dozidicrashfmt_format(g_appName, sizeof g_appName, "%s", appName);
  dozidicrashfmt_format(g_reportsPath, sizeof g_reportsPath, "%s", reportsPath);
  // "/", "-report-", 16 digits and "-attachments", plus the closing NUL.
  const std::size_t longest = std::strlen(reportsPath) + std::strlen(appName) + 1 + 8 + 16 + 12;
  g_pathsFit.store(longest < static_cast<std::size_t>(kDozidiCrashStorePathSize));
  if (!g_pathsFit.load()) DOZIDICRASHLOG_ERROR("Reports path too long: %s", reportsPath);
  dozidicrashfu_makePath(g_reportsPath);
  pruneLocked();
  // Start above the clock's seconds and above every stored report, so that IDs never meet a
  // stored report's name and keep growing from launch to launch even if the clock goes back.
  std::uint64_t seed = static_cast<std::uint64_t>(std::time(nullptr)) << kSeedCounterBits;
  const std::vector<std::int64_t> ids = listReportIDsLocked();
  if (!ids.empty()) seed = std::max(seed, static_cast<std::uint64_t>(ids.back()) + 1);
  g_nextReportID.store(seed);
}

void dozidicrashstore_getNextCrashReportPath(char* pathBuffer) {
  pathBuffer[0] = '\0';
  if (!g_pathsFit.load()) return;
  for (int attempt = 0; attempt < kMaxPathAttempts; ++attempt) {
    const auto id = static_cast<std::int64_t>(g_nextReportID.fetch_add(1));
    formatReportPath(id, pathBuffer);
    struct stat info;
    if (::stat(pathBuffer, &info) != 0 && errno == ENOENT) return;
  }
}

int dozidicrashstore_getReportCount() {
  std::lock_guard lock(g_mutex);
  return static_cast<int>(listReportIDsLocked().size());
}

int dozidicrashstore_getReportIDs(std::int64_t* reportIDs, int capacity) {
  std::lock_guard lock(g_mutex);
  const std::vector<std::int64_t> ids = listReportIDsLocked();
  const int count = std::min(capacity, static_cast<int>(ids.size()));
  for (int i = 0; i < count; ++i) reportIDs[i] = ids[static_cast<std::size_t>(i)];
  return count < 0 ? 0 : count;
}

std::optional<std::string> dozidicrashstore_readReport(std::int64_t reportID) {
  std::lock_guard lock(g_mutex);
  char path[kDozidiCrashStorePathSize];
  formatReportPath(reportID, path);
  return dozidicrashfu_readEntireFile(path, kMaxReportReadSize);
}

void dozidicrashstore_getAttachmentsPath(std::int64_t reportID, char* pathBuffer) {
  dozidicrashfmt_format(pathBuffer, kDozidiCrashStorePathSize, "%s/%s-report-%016llx-attachments", g_reportsPath,
                        g_appName, static_cast<unsigned long long>(reportID));
}

void dozidicrashstore_getAttachmentsPathFromReport(const char* reportPath, char* pathBuffer) {
  char prefix[kDozidiCrashStorePathSize];
  const std::size_t length =
      dozidicrashfmt_format(prefix, sizeof prefix, "%s/%s-report-", g_reportsPath, g_appName);
  dozidicrashstore_getAttachmentsPath(parseReportID(reportPath, prefix, length, ".json"), pathBuffer);
}

void dozidicrashstore_deleteAllReports() {
  std::lock_guard lock(g_mutex);
  dozidicrashfu_deleteContentsOfPath(g_reportsPath);
}

void dozidicrashstore_deleteReportWithID(std::int64_t reportID) {
  std::lock_guard lock(g_mutex);
  deleteReportLocked(reportID);
}

void dozidicrashstore_setMaxReportCount(int maxReportCount) { g_maxReportCount.store(maxReportCount); }
