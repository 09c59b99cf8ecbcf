#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiThreadInspector.h"

#include <pthread.h>

#include <algorithm>

#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiFrame.h"
#include "dozidi-cocoa/Sources/Dozidi/Protocol/DozidiStacktrace.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashMachineContext.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashStackCursor.h"

#include <dirent.h>

namespace {

constexpr int kMaxStackDepth = 100;
// Room kept for threads that start between counting and stopping them.
constexpr std::size_t kSpareThreadRecords = 16;

/// One stopped thread's walk: its id, up to 100 stack entries and how many there are.
struct ThreadRecord {
  DozidiCrashThread thread = 0;
  DozidiCrashStackEntry entries[kMaxStackDepth];
  std::uint32_t count = 0;
};

std::size_t countThreads() {
  std::size_t count = 0;
  if (DIR* tasks = opendir("/proc/self/task")) {
    while (dirent* entry = readdir(tasks)) count += entry->d_name[0] != '.';
    closedir(tasks);
  }
  return count;
}

}  // namespace

std::shared_ptr<DozidiStacktrace> DozidiStacktraceBuilder::finish(std::vector<std::shared_ptr<DozidiFrame>> frames) const {
  frames = DozidiFrameRemover::removeNonSdkFrames(frames);
  std::reverse(frames.begin(), frames.end());
  return DozidiStacktrace::initWithFrames(std::move(frames), foundation::Dictionary{});
}

std::shared_ptr<DozidiStacktrace> DozidiStacktraceBuilder::retrieveStacktraceFromCursor(
    DozidiCrashStackCursor& cursor) const {
  std::vector<std::shared_ptr<DozidiFrame>> frames;
  while (cursor.advanceCursor(&cursor)) {
    if (!cursor.symbolicate(&cursor)) continue;
    if (cursor.stackEntry.address == kDozidiCrashAsyncMarker) {
      if (!frames.empty()) frames.back()->stackStart = foundation::Number::fromBool(true);
      continue;
    }
    frames.push_back(mapper_->dozidiCrashStackEntryToDozidiFrame(cursor.stackEntry));
  }
  if (cursor.asyncCaller) {
    dozidicrash_releaseAsyncCaller(cursor.asyncCaller);
    cursor.asyncCaller = nullptr;
  }
  return finish(std::move(frames));
}

std::shared_ptr<DozidiStacktrace> DozidiStacktraceBuilder::buildStackTraceFromStackEntries(
    const DozidiCrashStackEntry* entries, std::uint32_t amount) const {
  std::vector<std::shared_ptr<DozidiFrame>> frames;
  for (std::uint32_t i = 0; i < amount; ++i) {
    if (entries[i].address == kDozidiCrashAsyncMarker) {
      if (!frames.empty()) frames.back()->stackStart = foundation::Number::fromBool(true);
      continue;
    }
    frames.push_back(mapper_->dozidiCrashStackEntryToDozidiFrame(entries[i]));
  }
  return finish(std::move(frames));
}

std::shared_ptr<DozidiStacktrace> DozidiStacktraceBuilder::buildStacktraceForCurrentThread() const {
  // The cursor holds room for its addresses: kept on the heap, not on a stack that may be small.
  auto cursor = std::make_unique<DozidiCrashStackCursor>();
  dozidicrashsc_initSelfThread(cursor.get(), 0);
  return retrieveStacktraceFromCursor(*cursor);
}

std::string DozidiDefaultThreadInspector::getThreadName() {
  char name[128] = {};
  if (pthread_getname_np(pthread_self(), name, sizeof name) != 0) return "";
  return name;
}

std::string DozidiDefaultThreadInspector::getThreadName(std::uint64_t thread) {
  char name[128] = {};
  machineContextWrapper_->getThreadName(thread, name, sizeof name);
  name[sizeof name - 1] = '\0';
  return name;
}

std::vector<std::shared_ptr<DozidiThread>> DozidiDefaultThreadInspector::getCurrentThreads() {
  auto thread = DozidiThread::initWithThreadId(foundation::Number::fromInt64(0));
  thread->name = getThreadName();
  thread->crashed = false;
  thread->current = true;
  thread->stacktrace = builder_->buildStacktraceForCurrentThread();
  return {thread};
}

std::vector<std::shared_ptr<DozidiThread>> DozidiDefaultThreadInspector::getCurrentThreadsWithStackTrace() {
  std::lock_guard guard(lock_);
  // Reserved on the heap before any thread stops: a stopped thread may hold the allocator's lock,
  // and a record per thread (4 KB each) sized on this thread's stack could overflow it.
  const std::size_t reserved = countThreads() + kSpareThreadRecords;
  auto records = std::make_unique<ThreadRecord[]>(reserved);
  auto contextBuffer = std::make_unique<std::uint8_t[]>(static_cast<std::size_t>(dozidicrashmc_contextSize()));
  auto* context = reinterpret_cast<DozidiCrashMachineContext*>(contextBuffer.get());
  auto cursor = std::make_unique<DozidiCrashStackCursor>();
  const DozidiCrashThread self = dozidicrashthread_self();
  std::vector<DozidiCrashThread> listed;
  listed.reserve(reserved);

  DozidiCrashThread* threads = nullptr;
  int threadCount = 0;
  dozidicrashmc_suspendEnvironment(&threads, &threadCount);
  // Threads beyond the reserved records (started after the count) are left out.
  const std::size_t walked = std::min(reserved, static_cast<std::size_t>(std::max(threadCount, 0)));
  for (std::size_t i = 0; i < walked; ++i) {
    ThreadRecord& record = records[i];
    record.thread = threads[i];
    listed.push_back(threads[i]);  // within the reserved capacity: no allocation
    if (threads[i] == self) continue;
    if (!dozidicrashmc_getContextForThread(threads[i], context, false)) continue;
    dozidicrashsc_initWithMachineContext(cursor.get(), kMaxStackDepth, context);
    while (record.count < kMaxStackDepth && cursor->advanceCursor(cursor.get())) {
      if (cursor->symbolicate(cursor.get())) record.entries[record.count++] = cursor->stackEntry;
    }
    if (cursor->asyncCaller) {
      dozidicrash_releaseAsyncCallerInCrash(cursor->asyncCaller);
      cursor->asyncCaller = nullptr;
    }
  }
  dozidicrashmc_resumeEnvironment(threads, threadCount);

  std::vector<std::shared_ptr<DozidiThread>> result;
  for (std::size_t i = 0; i < listed.size(); ++i) {
    auto thread = DozidiThread::initWithThreadId(foundation::Number::fromInt64(static_cast<std::int64_t>(i)));
    thread->name = getThreadName(listed[i]);
    thread->crashed = false;
    thread->current = listed[i] == self;
    if (listed[i] == self) {
      thread->stacktrace = builder_->buildStacktraceForCurrentThread();
    } else {
      thread->stacktrace = builder_->buildStackTraceFromStackEntries(records[i].entries, records[i].count);
    }
    if (machineContextWrapper_->isMainThread(listed[i])) {
      result.insert(result.begin(), thread);
    } else {
      result.push_back(thread);
    }
  }
  return result;
}
