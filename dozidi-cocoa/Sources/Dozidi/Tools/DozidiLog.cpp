#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiLog.h"

#include <unistd.h>

#include <atomic>
#include <mutex>
#include <string_view>

#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashLogger.h"

namespace {

struct LogState {
  std::mutex lock;
  // Atomic, so that the test every log call site makes first (most lines are debug lines that
  // do not print) takes no lock; they change under the lock, with the crash recorder's copy.
  std::atomic<bool> isDebug{true};
  std::atomic<DozidiEventLevel> diagnosticLevel{DozidiEventLevel::Error};
  std::shared_ptr<DozidiLogOutput> output;
};

// Never destroyed: threads that log during exit must still find it.
LogState& state() {
  static auto* s = new LogState();
  return *s;
}

bool passesFilter(const LogState& s, DozidiEventLevel level) {
  return level != DozidiEventLevel::None && s.isDebug.load(std::memory_order_relaxed) &&
         static_cast<std::uint32_t>(s.diagnosticLevel.load(std::memory_order_relaxed)) <=
             static_cast<std::uint32_t>(level);
}

std::string_view fileBaseName(std::string_view path) {
  if (auto slash = path.rfind('/'); slash != std::string_view::npos) path.remove_prefix(slash + 1);
  if (auto dot = path.rfind('.'); dot != std::string_view::npos) path = path.substr(0, dot);
  return path;
}

constexpr const char* kLevelNames[] = {"none", "debug", "info", "warning", "error", "fatal"};

}  // namespace

std::string nameForDozidiLevel(DozidiEventLevel level) {
  const auto index = static_cast<std::uint32_t>(level);
  return index < std::size(kLevelNames) ? kLevelNames[index] : "none";
}

DozidiEventLevel dozidiLevelForString(std::optional<std::string_view> name) {
  if (name) {
    for (std::uint32_t i = 0; i < std::size(kLevelNames); ++i) {
      if (*name == kLevelNames[i]) return static_cast<DozidiEventLevel>(i);
    }
  }
  return DozidiEventLevel::Error;
}

void DozidiLogOutput::log(const std::string& line) {
  // One write per line, so lines of different threads never interleave.
  std::string text = line + "\n";
  std::string_view rest = text;
  while (!rest.empty()) {
    const ssize_t written = ::write(STDERR_FILENO, rest.data(), rest.size());
    if (written <= 0) return;
    rest.remove_prefix(static_cast<std::size_t>(written));
  }
}

void DozidiLog::configure(bool isDebug, DozidiEventLevel diagnosticLevel) {
  std::lock_guard lock(state().lock);
  state().isDebug = isDebug;
  state().diagnosticLevel = diagnosticLevel;
  // The crash recorder's lines follow the same switch and level.
  dozidicrashlog_setThreshold(isDebug, static_cast<int>(diagnosticLevel));
}

void DozidiLog::logWithMessage(const std::string& message, DozidiEventLevel level) {
  std::shared_ptr<DozidiLogOutput> output;
  {
    std::lock_guard lock(state().lock);
    if (!state().output) state().output = std::make_shared<DozidiLogOutput>();
    if (!passesFilter(state(), level)) return;
    output = state().output;
  }
  // The output runs outside the lock: it may log in turn, or take its time.
  output->log("[Dozidi] [" + nameForDozidiLevel(level) + "] " + message);
}

bool DozidiLog::willLog(DozidiEventLevel level) { return passesFilter(state(), level); }

void DozidiLog::logFromCallSite(const char* file, int line, DozidiEventLevel level, const std::string& message) {
  logWithMessage("[" + std::string(fileBaseName(file)) + ":" + std::to_string(line) + "] " + message, level);
}

void DozidiLog::setLogOutput(std::shared_ptr<DozidiLogOutput> output) {
  std::lock_guard lock(state().lock);
  state().output = std::move(output);
}

std::shared_ptr<DozidiLogOutput> DozidiLog::logOutput() {
  std::lock_guard lock(state().lock);
  return state().output;
}

bool DozidiLog::isDebug() {
  std::lock_guard lock(state().lock);
  return state().isDebug;
}

DozidiEventLevel DozidiLog::diagnosticLevel() {
  std::lock_guard lock(state().lock);
  return state().diagnosticLevel;
}
