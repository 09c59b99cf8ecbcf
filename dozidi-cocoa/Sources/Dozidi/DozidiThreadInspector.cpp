#include "dozidi-cocoa/Sources/Dozidi/DozidiThreadInspector.h"

#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>

#include "dozidi-cocoa/Sources/Dozidi/DozidiFrame.h"
#include "dozidi-cocoa/Sources/Dozidi/DozidiStacktrace.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashStackCursor.h"

namespace {

std::string hex(std::uint64_t value) {
  char text[2 + 16 + 1];
  std::snprintf(text, sizeof text, "0x%016" PRIx64, value);
  return text;
}

}  // namespace

std::shared_ptr<DozidiFrame> DozidiCrashStackEntryMapper::dozidiCrashStackEntryToDozidiFrame(
    const DozidiCrashStackEntry& entry) const {
  auto frame = DozidiFrame::create();
  frame->symbolAddress = hex(entry.symbolAddress);
  frame->instructionAddress = hex(entry.address);
  frame->imageAddress = hex(entry.imageAddress);
  if (entry.symbolName) frame->function = entry.symbolName;
  if (entry.imageName) {
    frame->package = entry.imageName;
    frame->inApp = foundation::Number::fromBool(inAppLogic_.isInApp(std::string_view(entry.imageName)));
  }
  return frame;
}

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

std::vector<std::shared_ptr<DozidiThread>> DozidiDefaultThreadInspector::getCurrentThreads() {
  auto thread = DozidiThread::initWithThreadId(foundation::Number::fromInt64(0));
  thread->name = getThreadName();
  thread->crashed = false;
  thread->current = true;
  thread->stacktrace = builder_->buildStacktraceForCurrentThread();
  return {thread};
}
