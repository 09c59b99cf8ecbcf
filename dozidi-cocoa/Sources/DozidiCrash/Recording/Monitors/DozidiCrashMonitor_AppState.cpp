#include "DozidiCrashMonitor_AppState.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>

#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashFileUtils.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashFormat.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashJSON.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashLogger.h"
#include "platform/foundation/SystemCalls.h"

namespace {

constexpr int kFormatVersion = 1;
constexpr int kPathSize = 500;
constexpr std::int64_t kMaxStateFileSize = 50'000;
constexpr int kStringBufferSize = 1000;

DozidiCrash_AppState g_state{};
// A fixed array: the crash path saves to it without allocating.
char g_stateFilePath[kPathSize];
double g_initializationTime = 0;
std::atomic<bool> g_isEnabled{false};
std::atomic<double (*)()> g_timeSource{nullptr};

double now() {
  if (double (*source)() = g_timeSource.load()) return source();
  timeval tv{};
  ::gettimeofday(&tv, nullptr);
  return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) / 1'000'000.0;
}

// Loading ----------------------------------------------------------------------------------

int onBoolean(const char* name, bool value, void*) {
  if (name == nullptr) return DozidiCrashJSON_ERROR_INVALID_DATA;
  if (std::strcmp(name, "crashedLastLaunch") == 0) g_state.crashedLastLaunch = value;
  return DozidiCrashJSON_OK;
}

int onFloat(const char* name, double value, void*) {
  if (name == nullptr) return DozidiCrashJSON_ERROR_INVALID_DATA;
  if (std::strcmp(name, "durationFromCrashStateInitToLastCrash") == 0) {
    g_state.durationFromCrashStateInitToLastCrash = value;
  } else if (std::strcmp(name, "activeDurationSinceLastCrash") == 0) {
    g_state.activeDurationSinceLastCrash = value;
  } else if (std::strcmp(name, "backgroundDurationSinceLastCrash") == 0) {
    g_state.backgroundDurationSinceLastCrash = value;
  }
  return DozidiCrashJSON_OK;
}

std::int32_t clampToInt32(std::int64_t value) {
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<std::int32_t>(value);
}

int onInteger(const char* name, std::int64_t value, void* userData) {
  if (name == nullptr) return DozidiCrashJSON_ERROR_INVALID_DATA;
  if (std::strcmp(name, "version") == 0 && value != kFormatVersion) {
    DOZIDICRASHLOG_ERROR("Expected version 1 but got %lld", static_cast<long long>(value));
    return DozidiCrashJSON_ERROR_INVALID_DATA;
  }
  if (std::strcmp(name, "launchesSinceLastCrash") == 0) g_state.launchesSinceLastCrash = clampToInt32(value);
  if (std::strcmp(name, "sessionsSinceLastCrash") == 0) g_state.sessionsSinceLastCrash = clampToInt32(value);
  // A duration that happens to be whole is written as an integer.
  return onFloat(name, static_cast<double>(value), userData);
}

int onIgnoredNamed(const char* name, void*) {
  return name == nullptr ? DozidiCrashJSON_ERROR_INVALID_DATA : DozidiCrashJSON_OK;
}
int onIgnoredString(const char* name, const char*, void* userData) { return onIgnoredNamed(name, userData); }
int onBeginContainer(const char* name, void* userData) {
  // The top-level object has no name; every other element needs one.
  auto* depth = static_cast<int*>(userData);
  if (*depth > 0 && name == nullptr) return DozidiCrashJSON_ERROR_INVALID_DATA;
  ++*depth;
  return DozidiCrashJSON_OK;
}
int onEndContainer(void* userData) {
  --*static_cast<int*>(userData);
  return DozidiCrashJSON_OK;
}
int onEndData(void*) { return DozidiCrashJSON_OK; }

constexpr DozidiCrashJSONDecodeCallbacks kLoadCallbacks = {
    onBoolean, onFloat, onInteger, onIgnoredNamed, onIgnoredString, onBeginContainer, onBeginContainer,
    onEndContainer, onEndData,
};

// Saving -----------------------------------------------------------------------------------

// The size of every saved state file: the state's text is a few hundred bytes at most.
constexpr int kStateFileReserve = 768;

/// Runs during a crash: no allocation, no locks.
/// Writes "<path>.tmp" and renames it over `path`, so a crash or kill half-way leaves the old
/// file whole.
bool replaceFile(const char* path, const char* bytes, int length) {
  char temporaryPath[kPathSize + 8];
  dozidicrashfmt_format(temporaryPath, sizeof temporaryPath, "%s.tmp", path);
  const int fd = foundation::retryOnInterrupt(
      [&] { return ::open(temporaryPath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644); });
  if (fd < 0) {
    DOZIDICRASHLOG_ERROR("Could not open file %s for writing: %s", temporaryPath, dozidicrashfmt_errorText(errno));
    return false;
  }
  const bool written = dozidicrashfu_writeBytesToFD(fd, bytes, length);
  const bool closed = ::close(fd) == 0;
  if (!written || !closed) {
    DOZIDICRASHLOG_ERROR("%s: %s", temporaryPath, !written ? "cannot write" : "cannot close");
    ::unlink(temporaryPath);
    return false;
  }
  if (::rename(temporaryPath, path) != 0) {
    DOZIDICRASHLOG_ERROR("Could not rename %s: %s", temporaryPath, dozidicrashfmt_errorText(errno));
    ::unlink(temporaryPath);
    return false;
  }
  return true;
}

/// Runs during a crash: no allocation, no locks.
/// Overwrites the existing file's bytes without growing it: the new text, then blanks up to the
/// old length (white space after the object is valid JSON). Fails when the text is longer than
/// the file.
bool overwriteInPlace(const char* path, const char* bytes, int length) {
  const int fd = foundation::retryOnInterrupt([&] { return ::open(path, O_WRONLY | O_CLOEXEC); });
  if (fd < 0) return false;
  struct stat status {};
  bool written = ::fstat(fd, &status) == 0 && status.st_size >= length && dozidicrashfu_writeBytesToFD(fd, bytes, length);
  char blanks[64];
  std::memset(blanks, ' ', sizeof blanks);
  for (off_t left = written ? status.st_size - length : 0; written && left > 0;) {
    const int chunk = left < static_cast<off_t>(sizeof blanks) ? static_cast<int>(left) : static_cast<int>(sizeof blanks);
    written = dozidicrashfu_writeBytesToFD(fd, blanks, chunk);
    left -= chunk;
  }
  const bool closed = ::close(fd) == 0;
  if (!written || !closed) {
    DOZIDICRASHLOG_ERROR("%s: cannot overwrite in place", path);
    return false;
  }
  return true;
}

int writeToFile(const char* data, int length, void* userData) {
  auto* writer = static_cast<DozidiCrashBufferedWriter*>(userData);
  return dozidicrashfu_writeBufferedWriter(writer, data, length) ? DozidiCrashJSON_OK
                                                                 : DozidiCrashJSON_ERROR_CANNOT_ADD_DATA;
}

int encodeState(DozidiCrashJSONEncodeContext* encoder) {
  int result = dozidicrashjson_beginObject(encoder, nullptr);
  if (result == DozidiCrashJSON_OK) result = dozidicrashjson_addIntegerElement(encoder, "version", kFormatVersion);
  if (result == DozidiCrashJSON_OK) {
    result = dozidicrashjson_addBooleanElement(encoder, "crashedLastLaunch", g_state.crashedThisLaunch);
  }
  if (result == DozidiCrashJSON_OK) {
    const double duration = g_state.crashedThisLaunch ? now() - g_initializationTime : 0.0;
    result = dozidicrashjson_addFloatingPointElement(encoder, "durationFromCrashStateInitToLastCrash", duration);
  }
  if (result == DozidiCrashJSON_OK) {
    result = dozidicrashjson_addFloatingPointElement(encoder, "activeDurationSinceLastCrash",
                                                      g_state.activeDurationSinceLastCrash);
  }
  if (result == DozidiCrashJSON_OK) {
    result = dozidicrashjson_addFloatingPointElement(encoder, "backgroundDurationSinceLastCrash",
                                                      g_state.backgroundDurationSinceLastCrash);
  }
  if (result == DozidiCrashJSON_OK) {
    result = dozidicrashjson_addIntegerElement(encoder, "launchesSinceLastCrash", g_state.launchesSinceLastCrash);
  }
  if (result == DozidiCrashJSON_OK) {
    result = dozidicrashjson_addIntegerElement(encoder, "sessionsSinceLastCrash", g_state.sessionsSinceLastCrash);
  }
  if (result == DozidiCrashJSON_OK) result = dozidicrashjson_endEncode(encoder);
  return result;
}

void saveIfPossible() {
  if (g_stateFilePath[0] != '\0') dozidicrashstate_saveState(g_stateFilePath);
}

// Monitor ----------------------------------------------------------------------------------

void setEnabled(bool isEnabled) {
  if (isEnabled == g_isEnabled.load()) return;
  g_isEnabled.store(isEnabled);
  if (!isEnabled) return;
  g_state.sessionsSinceLaunch = 1;
  g_state.activeDurationSinceLaunch = 0;
  g_state.backgroundDurationSinceLaunch = 0;
  if (g_state.crashedLastLaunch) {
    g_state.activeDurationSinceLastCrash = 0;
    g_state.backgroundDurationSinceLastCrash = 0;
    g_state.launchesSinceLastCrash = 1;
    g_state.sessionsSinceLastCrash = 1;
  } else {
    g_state.launchesSinceLastCrash++;
    g_state.sessionsSinceLastCrash++;
  }
  g_state.crashedThisLaunch = false;
  g_state.applicationIsInForeground = true;
  saveIfPossible();
}

bool isEnabled() { return g_isEnabled.load(); }

void addContextualInfoToEvent(DozidiCrash_MonitorContext* event) {
  if (!g_isEnabled.load()) return;
  auto& facts = event->AppState;
  facts.applicationIsActive = g_state.applicationIsActive;
  facts.applicationIsInForeground = g_state.applicationIsInForeground;
  facts.appStateTransitionTime = g_state.appStateTransitionTime;
  facts.activeDurationSinceLastCrash = g_state.activeDurationSinceLastCrash;
  facts.backgroundDurationSinceLastCrash = g_state.backgroundDurationSinceLastCrash;
  facts.activeDurationSinceLaunch = g_state.activeDurationSinceLaunch;
  facts.backgroundDurationSinceLaunch = g_state.backgroundDurationSinceLaunch;
  facts.crashedLastLaunch = g_state.crashedLastLaunch;
  facts.crashedThisLaunch = g_state.crashedThisLaunch;
  facts.launchesSinceLastCrash = g_state.launchesSinceLastCrash;
  facts.sessionsSinceLastCrash = g_state.sessionsSinceLastCrash;
  facts.sessionsSinceLaunch = g_state.sessionsSinceLaunch;
}

constexpr DozidiCrashMonitorAPI kAPI = {setEnabled, isEnabled, addContextualInfoToEvent};

}  // namespace

void dozidicrashstate_loadState(const char* stateFilePath) {
  g_initializationTime = now();
  g_state = DozidiCrash_AppState{};
  g_stateFilePath[0] = '\0';
  if (std::strlen(stateFilePath) >= sizeof g_stateFilePath) {
    // A cut path could name another file: the state is then kept in memory only.
    DOZIDICRASHLOG_ERROR("State file path too long: %s", stateFilePath);
    return;
  }
  dozidicrashfmt_format(g_stateFilePath, sizeof g_stateFilePath, "%s", stateFilePath);
  if (::access(stateFilePath, R_OK) != 0) return;
  const std::optional<std::string> text = dozidicrashfu_readEntireFile(stateFilePath, kMaxStateFileSize);
  if (!text) {
    DOZIDICRASHLOG_ERROR("%s: Could not load file", stateFilePath);
    return;
  }
  char stringBuffer[kStringBufferSize];
  int depth = 0;
  int errorOffset = 0;
  const int result = dozidicrashjson_decode(text->data(), static_cast<int>(text->size()), stringBuffer,
                                            sizeof stringBuffer, &kLoadCallbacks, &depth, &errorOffset);
  if (result != DozidiCrashJSON_OK) {
    DOZIDICRASHLOG_ERROR("%s, offset %d: %s", stateFilePath, errorOffset, dozidicrashjson_stringForError(result));
  }
}

bool dozidicrashstate_saveState(const char* path) {
  // The state is a few hundred bytes: encoded into memory first and written at once, not a call
  // per token (this also runs in the crash path). The writer has no file: more than the buffer
  // holds is an error.
  char buffer[1024];
  DozidiCrashBufferedWriter writer{buffer, sizeof buffer, 0, -1};
  DozidiCrashJSONEncodeContext encoder;
  dozidicrashjson_beginEncode(&encoder, true, writeToFile, &writer);
  const int result = encodeState(&encoder);
  if (result != DozidiCrashJSON_OK) {
    DOZIDICRASHLOG_ERROR("%s: %s", path, dozidicrashjson_stringForError(result));
    return false;
  }
  // Every save is blanked out to the same size, so that the in-place overwrite below always has
  // room for the next state, whatever the width of its numbers.
  while (writer.position < kStateFileReserve) buffer[writer.position++] = ' ';
  if (replaceFile(path, buffer, writer.position)) return true;
  // A full disk refuses the new file. The existing one is overwritten in place instead, so that
  // the next launch still learns that this launch crashed.
  return overwriteInPlace(path, buffer, writer.position);
}

void dozidicrashstate_notifyAppActive(bool isActive) {
  if (!g_isEnabled.load()) return;
  g_state.applicationIsActive = isActive;
  if (isActive) {
    g_state.appStateTransitionTime = now();
    return;
  }
  const double duration = now() - g_state.appStateTransitionTime;
  g_state.activeDurationSinceLaunch += duration;
  g_state.activeDurationSinceLastCrash += duration;
}

void dozidicrashstate_notifyAppInForeground(bool isInForeground) {
  if (!g_isEnabled.load()) return;
  g_state.applicationIsInForeground = isInForeground;
  if (!isInForeground) {
    g_state.appStateTransitionTime = now();
    saveIfPossible();
    return;
  }
  const double duration = now() - g_state.appStateTransitionTime;
  g_state.backgroundDurationSinceLaunch += duration;
  g_state.backgroundDurationSinceLastCrash += duration;
  g_state.sessionsSinceLastCrash++;
  g_state.sessionsSinceLaunch++;
}

void dozidicrashstate_notifyAppTerminate() {
  if (!g_isEnabled.load()) return;
  g_state.backgroundDurationSinceLastCrash += now() - g_state.appStateTransitionTime;
  saveIfPossible();
}

void dozidicrashstate_notifyAppCrash() {
  if (!g_isEnabled.load()) return;
  if (g_state.applicationIsActive || !g_state.applicationIsInForeground) {
    const double duration = now() - g_state.appStateTransitionTime;
    if (g_state.applicationIsActive) {
      g_state.activeDurationSinceLaunch += duration;
      g_state.activeDurationSinceLastCrash += duration;
    } else {
      g_state.backgroundDurationSinceLaunch += duration;
      g_state.backgroundDurationSinceLastCrash += duration;
    }
  }
  g_state.crashedThisLaunch = true;
  saveIfPossible();
}

const DozidiCrash_AppState* dozidicrashstate_currentState() { return &g_state; }

const DozidiCrashMonitorAPI* dozidicrashcm_appstate_getAPI() { return &kAPI; }

void dozidicrashstate_setTimeSource(double (*source)()) { g_timeSource.store(source); }
