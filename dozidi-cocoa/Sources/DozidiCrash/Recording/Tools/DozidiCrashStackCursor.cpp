#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashStackCursor.h"

#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashCPU.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashDynamicLinker.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashMachineContext.h"
#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashMemory.h"
#include "platform/kernel/ThreadSuspension.h"

#include <dlfcn.h>
#include <execinfo.h>

#include <cstring>

namespace {

bool neverAdvance(DozidiCrashStackCursor*) { return false; }

bool yield(DozidiCrashStackCursor* cursor, std::uint64_t address, bool isInstructionAddress) {
  cursor->stackEntry.address = address;
  cursor->state.isInstructionAddress = isInstructionAddress;
  cursor->state.currentDepth++;
  return true;
}

// The marker stands before each async caller's frames; depth counts again from there.
bool switchToAsyncCallers(DozidiCrashStackCursor* cursor) {
  if (cursor->asyncCaller == nullptr) return false;
  cursor->asyncCallerWalk = cursor->asyncCaller;
  cursor->state.currentDepth = 0;
  cursor->stackEntry.address = kDozidiCrashAsyncMarker;
  cursor->state.isInstructionAddress = false;
  return true;
}

bool asyncStep(DozidiCrashStackCursor* cursor) {
  dozidicrash_async_backtrace_t* walk = cursor->asyncCallerWalk;
  auto index = static_cast<std::uint64_t>(cursor->state.currentDepth);
  if (index < walk->len && index < 128 && walk->backtrace[index] >= 2) {
    return yield(cursor, dozidicrashcpu_normaliseInstructionPointer(walk->backtrace[index]), false);
  }
  if (walk->next == nullptr) return false;
  cursor->asyncCallerWalk = walk->next;
  cursor->state.currentDepth = 0;
  cursor->stackEntry.address = kDozidiCrashAsyncMarker;
  cursor->state.isInstructionAddress = false;
  return true;
}

bool advanceList(DozidiCrashStackCursor* cursor) {
  if (cursor->asyncCallerWalk != nullptr) return asyncStep(cursor);
  auto& list = cursor->context.list;
  int depth = cursor->state.currentDepth;
  if (depth >= list.length - list.skipEntries) return switchToAsyncCallers(cursor);
  std::uintptr_t entry = list.addresses[depth + list.skipEntries];
  if (entry == 0 || entry == 1) return switchToAsyncCallers(cursor);
  return yield(cursor, dozidicrashcpu_normaliseInstructionPointer(entry), false);
}

// A list whose first entry is where the thread was executing, not a return address.
bool advanceUnwoundList(DozidiCrashStackCursor* cursor) {
  const bool isFirst = cursor->asyncCallerWalk == nullptr && cursor->state.currentDepth == 0;
  if (!advanceList(cursor)) return false;
  if (isFirst && cursor->stackEntry.address != kDozidiCrashAsyncMarker) cursor->state.isInstructionAddress = true;
  return true;
}

using ThreadWalk = decltype(DozidiCrashStackCursor::context.thread);
static_assert(sizeof(ThreadWalk) <= sizeof(DozidiCrashStackCursor::context.list), "the walk must not grow the cursor");

// Copies the 16-byte frame record at `address`. A stopped thread copied the top of its stack
// when it stopped, which holds the records of a usual stack. Beyond that, records lie close
// together up the stack, so the bytes above each one are read with it, in one safe read (a
// system call), and later records come from memory. The read stays inside one 4 KiB block, and
// so inside one page: it succeeds whenever the record alone could be read.
bool readFrameRecord(ThreadWalk& walk, std::uintptr_t address, void* record) {
  constexpr std::uintptr_t kRecordSize = 16;
  constexpr std::uintptr_t kBlock = 4096;
  const std::uintptr_t start = walk.windowStart;
  if (walk.windowLength > 0 && address >= start && address - start <= walk.windowLength - kRecordSize) {
    std::memcpy(record, walk.window + (address - start), kRecordSize);
    return true;
  }
  const auto thread = static_cast<kernel::ThreadId>(walk.machineContext->thisThread);
  if (kernel::readSuspendedStack(thread, address, record, kRecordSize)) return true;
  std::uintptr_t length = kBlock - (address & (kBlock - 1));
  if (length > sizeof walk.window) length = sizeof walk.window;
  if (length < kRecordSize) return dozidicrashmem_copySafely(reinterpret_cast<const void*>(address), record, kRecordSize);
  walk.windowLength = 0;
  if (!dozidicrashmem_copySafely(reinterpret_cast<const void*>(address), walk.window, static_cast<int>(length))) return false;
  walk.windowStart = address;
  walk.windowLength = static_cast<int>(length);
  std::memcpy(record, walk.window, kRecordSize);
  return true;
}

void resetThread(DozidiCrashStackCursor* cursor) {
  dozidicrashsc_resetCursor(cursor);
  auto& thread = cursor->context.thread;
  thread.currentFrame.previous = 0;
  thread.currentFrame.returnAddress = 0;
  thread.instructionAddress = 0;
  thread.linkRegister = 0;
  thread.isPastFramePointer = false;
  thread.windowStart = 0;
  thread.windowLength = 0;
}

bool advanceThread(DozidiCrashStackCursor* cursor) {
  if (cursor->asyncCallerWalk != nullptr) return asyncStep(cursor);
  auto& thread = cursor->context.thread;
  if (cursor->state.currentDepth >= thread.maxStackDepth) {
    cursor->state.hasGivenUp = true;
    return false;
  }
  if (thread.instructionAddress == 0) {
    thread.instructionAddress = dozidicrashcpu_instructionAddress(thread.machineContext);
    if (thread.instructionAddress == 0) return switchToAsyncCallers(cursor);
    return yield(cursor, dozidicrashcpu_normaliseInstructionPointer(thread.instructionAddress), true);
  }
  if (thread.linkRegister == 0 && !thread.isPastFramePointer) {
    thread.linkRegister = dozidicrashcpu_linkRegister(thread.machineContext);
    if (thread.linkRegister != 0) return yield(cursor, dozidicrashcpu_normaliseInstructionPointer(thread.linkRegister), false);
  }
  if (thread.currentFrame.previous == 0) {
    if (thread.isPastFramePointer) return switchToAsyncCallers(cursor);
    thread.currentFrame.previous = dozidicrashcpu_framePointer(thread.machineContext);
    thread.isPastFramePointer = true;
  }
  // A frame record is {caller's frame pointer, return address}, 16 bytes at the frame pointer.
  static_assert(sizeof thread.currentFrame == 16);
  if (!readFrameRecord(thread, thread.currentFrame.previous, &thread.currentFrame)) return false;
  if (thread.currentFrame.previous == 0 || thread.currentFrame.returnAddress == 0) return switchToAsyncCallers(cursor);
  return yield(cursor, dozidicrashcpu_normaliseInstructionPointer(thread.currentFrame.returnAddress), false);
}

}  // namespace

void dozidicrashsc_resetCursor(DozidiCrashStackCursor* cursor) {
  cursor->state.currentDepth = 0;
  cursor->state.hasGivenUp = false;
  cursor->state.isInstructionAddress = false;
  cursor->stackEntry = DozidiCrashStackEntry{};
  cursor->asyncCallerWalk = nullptr;
}

void dozidicrashsc_initCursor(DozidiCrashStackCursor* cursor, void (*resetCursor)(DozidiCrashStackCursor*),
                              bool (*advanceCursor)(DozidiCrashStackCursor*)) {
  cursor->symbolicate = dozidicrashsc_symbolicate;
  cursor->asyncCaller = nullptr;
  cursor->resetCursor = resetCursor != nullptr ? resetCursor : dozidicrashsc_resetCursor;
  cursor->advanceCursor = advanceCursor != nullptr ? advanceCursor : neverAdvance;
  cursor->resetCursor(cursor);
}

void dozidicrashsc_initWithBacktrace(DozidiCrashStackCursor* cursor, const std::uintptr_t* addresses, int length, int skipEntries) {
  dozidicrashsc_initCursor(cursor, dozidicrashsc_resetCursor, advanceList);
  cursor->context.list.addresses = addresses;
  cursor->context.list.length = length;
  cursor->context.list.skipEntries = skipEntries;
}

__attribute__((noinline)) void dozidicrashsc_initSelfThread(DozidiCrashStackCursor* cursor, int skipEntries) {
  void* frames[kDozidiCrashMaxBacktraceEntries];
  int length = ::backtrace(frames, kDozidiCrashMaxBacktraceEntries);
  // Our caller's frame is the one we return to. Wrappers around backtrace (sanitizers
  // intercept it) add frames of their own before ours, so find it rather than count.
  int callerIndex = 1;
  void* returnAddress = __builtin_return_address(0);
  for (int i = 0; i < length && i < 4; ++i) {
    if (frames[i] == returnAddress) {
      callerIndex = i;
      break;
    }
  }
  dozidicrashsc_initWithBacktrace(cursor, cursor->context.list.storage, length, skipEntries + callerIndex);
  for (int i = 0; i < length; ++i) cursor->context.list.storage[i] = reinterpret_cast<std::uintptr_t>(frames[i]);
  cursor->asyncCaller = dozidicrash_get_async_caller_for_thread(dozidicrashthread_self());
}

void dozidicrashsc_initWithSignalUnwind(DozidiCrashStackCursor* cursor, int maxStackDepth,
                                        const DozidiCrashMachineContext* machineContext) {
  void* frames[kDozidiCrashMaxBacktraceEntries];
  const int length = ::backtrace(frames, kDozidiCrashMaxBacktraceEntries);
  dozidicrashsc_initWithSignalUnwindFrames(cursor, maxStackDepth, machineContext, frames, length);
}

void dozidicrashsc_initWithSignalUnwindFrames(DozidiCrashStackCursor* cursor, int maxStackDepth,
                                              const DozidiCrashMachineContext* machineContext, void* const* frames,
                                              int length) {
  const std::uint64_t instructionAddress = dozidicrashcpu_instructionAddress(machineContext);
  int start = -1;
  for (int i = 0; i < length; ++i) {
    if (reinterpret_cast<std::uintptr_t>(frames[i]) == instructionAddress) {
      start = i;
      break;
    }
  }
  if (start < 0) {
    dozidicrashsc_initWithMachineContext(cursor, maxStackDepth, machineContext);
    return;
  }
  int count = length - start;
  if (count > maxStackDepth) count = maxStackDepth;
  dozidicrashsc_initCursor(cursor, dozidicrashsc_resetCursor, advanceUnwoundList);
  for (int i = 0; i < count; ++i) cursor->context.list.storage[i] = reinterpret_cast<std::uintptr_t>(frames[start + i]);
  cursor->context.list.addresses = cursor->context.list.storage;
  cursor->context.list.length = count;
  cursor->context.list.skipEntries = 0;
  cursor->asyncCaller = dozidicrash_get_async_caller_for_thread(machineContext->thisThread);
}

void dozidicrashsc_initWithMachineContext(DozidiCrashStackCursor* cursor, int maxStackDepth,
                                          const DozidiCrashMachineContext* machineContext) {
  dozidicrashsc_initCursor(cursor, resetThread, advanceThread);
  cursor->context.thread.machineContext = machineContext;
  cursor->context.thread.maxStackDepth = maxStackDepth;
  cursor->asyncCaller = dozidicrash_get_async_caller_for_thread(machineContext->thisThread);
}

bool dozidicrashsc_symbolicate(DozidiCrashStackCursor* cursor) {
  DozidiCrashStackEntry& entry = cursor->stackEntry;
  if (entry.address == kDozidiCrashAsyncMarker) {
    entry.imageName = nullptr;
    entry.imageAddress = 0;
    entry.symbolName = kDozidiCrashAsyncMarkerName;
    entry.symbolAddress = 0;
    return true;
  }
  // A return address points after its call; the call itself lies one byte before. The
  // executing instruction of a thread's first frame is looked up where it is.
  std::uintptr_t lookup = cursor->state.isInstructionAddress ? entry.address : entry.address - 1;
  Dl_info info;
  if (!dozidicrashdl_dladdr(lookup, &info)) {
    entry.imageName = nullptr;
    entry.imageAddress = 0;
    entry.symbolName = nullptr;
    entry.symbolAddress = 0;
    return false;
  }
  entry.imageName = info.dli_fname;
  entry.imageAddress = reinterpret_cast<std::uintptr_t>(info.dli_fbase);
  entry.symbolName = info.dli_sname;
  entry.symbolAddress = reinterpret_cast<std::uintptr_t>(info.dli_saddr);
  return true;
}
