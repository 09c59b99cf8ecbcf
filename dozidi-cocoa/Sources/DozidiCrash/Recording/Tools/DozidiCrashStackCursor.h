#pragma once
// Stack cursors: iterators that yield one code address per step from a list of addresses, the
// caller's own stack, or a stopped thread's frame-pointer chain, and then continue into the
// thread's async callers. Frames are named on demand, without the loader lock.

#include "dozidi-cocoa/Sources/DozidiCrash/Recording/Tools/DozidiCrashAsyncCaller.h"

#include <cstdint>

struct DozidiCrashMachineContext;

/// The frame between a thread's own stack and each async caller's frames.
inline constexpr std::uint64_t kDozidiCrashAsyncMarker = 0xFFFFFFFFFFFFFB2DULL;
inline constexpr const char* kDozidiCrashAsyncMarkerName = "__dozidicrash__async_marker__";
/// Own-stack cursors keep this many addresses.
inline constexpr int kDozidiCrashMaxBacktraceEntries = 97;

struct DozidiCrashStackEntry {
  std::uint64_t address;
  const char* imageName;
  std::uint64_t imageAddress;
  const char* symbolName;
  std::uint64_t symbolAddress;
};

struct DozidiCrashStackCursor {
  DozidiCrashStackEntry stackEntry;
  struct {
    int currentDepth;
    bool hasGivenUp;
    /// The current entry is where the thread is executing (its first frame), not a return
    /// address; it is named at its own address.
    bool isInstructionAddress;
  } state;
  dozidicrash_async_backtrace_t* asyncCallerWalk;
  void (*resetCursor)(DozidiCrashStackCursor*);
  bool (*advanceCursor)(DozidiCrashStackCursor*);
  bool (*symbolicate)(DozidiCrashStackCursor*);
  /// The async caller of the cursor's thread (one reference held), where the walk continues.
  dozidicrash_async_backtrace_t* asyncCaller;
  union {
    struct {
      int skipEntries;
      int length;
      const std::uintptr_t* addresses;
      std::uintptr_t storage[kDozidiCrashMaxBacktraceEntries];
    } list;
    struct {
      const DozidiCrashMachineContext* machineContext;
      int maxStackDepth;
      struct {
        std::uintptr_t previous;
        std::uintptr_t returnAddress;
      } currentFrame;
      std::uint64_t instructionAddress;
      std::uint64_t linkRegister;
      bool isPastFramePointer;
      /// Stack bytes read in one go from `windowStart`, from which frame records are taken.
      std::uintptr_t windowStart;
      int windowLength;
      alignas(16) unsigned char window[512];
    } thread;
  } context;
};

/// Sets up a cursor with the default symbolicator and no async caller, with the given reset and
/// advance (or the defaults: clear everything; never advance), then resets it.
/// Runs during a crash: no allocation, no locks.
void dozidicrashsc_initCursor(DozidiCrashStackCursor* cursor, void (*resetCursor)(DozidiCrashStackCursor*),
                              bool (*advanceCursor)(DozidiCrashStackCursor*));

/// Default reset: depth, give-up flag, entry and async walk cleared.
void dozidicrashsc_resetCursor(DozidiCrashStackCursor* cursor);

/// A cursor over `length` return addresses, skipping the first `skipEntries`. The addresses
/// must outlive the cursor.
/// Runs during a crash: no allocation, no locks.
void dozidicrashsc_initWithBacktrace(DozidiCrashStackCursor* cursor, const std::uintptr_t* addresses, int length, int skipEntries);

/// A cursor over the caller's own stack (up to 97 return addresses), skipping `skipEntries`
/// frames above this call; it continues into the calling thread's async caller. Not for crash
/// time unless `backtrace` was called once before.
void dozidicrashsc_initSelfThread(DozidiCrashStackCursor* cursor, int skipEntries);

/// A cursor over the thread of `machineContext`: its instruction address, link register, then
/// its frame-pointer chain, at most `maxStackDepth` frames, then its async caller.
/// Runs during a crash: no allocation, no locks.
void dozidicrashsc_initWithMachineContext(DozidiCrashStackCursor* cursor, int maxStackDepth,
                                          const DozidiCrashMachineContext* machineContext);

/// A cursor over the stack of the thread that a signal interrupted, called from that signal's
/// handler with the context built from it: the stack is unwound with the call-frame information
/// of each image (so frames of code built without frame pointers are found too), starting at the
/// interrupted instruction; at most `maxStackDepth` frames, then the async caller. When the
/// unwind does not pass through the interrupted instruction, the frame-pointer walk is used.
/// Runs during a crash: no allocation, no locks (the unwinder was prepared at install).
void dozidicrashsc_initWithSignalUnwind(DozidiCrashStackCursor* cursor, int maxStackDepth,
                                        const DozidiCrashMachineContext* machineContext);

/// The same from an unwind the caller made earlier on this thread, inside the same handler
/// (`frames`, `length` as `backtrace` gives them): a crash handler unwinds its own stack while
/// the other threads stop, and builds the cursor once they have.
/// Runs during a crash: no allocation, no locks.
void dozidicrashsc_initWithSignalUnwindFrames(DozidiCrashStackCursor* cursor, int maxStackDepth,
                                              const DozidiCrashMachineContext* machineContext, void* const* frames,
                                              int length);

/// Names the current entry: the marker by its fixed name; a thread's first frame at its own
/// address; a return address at address - 1 (inside the call instruction). False (fields
/// cleared) when no image holds the address.
/// Runs during a crash: no allocation, no locks.
bool dozidicrashsc_symbolicate(DozidiCrashStackCursor* cursor);
