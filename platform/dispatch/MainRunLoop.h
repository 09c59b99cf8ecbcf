#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>

// The main run loop: the thread that owns it runs the main queue's blocks while it pumps the loop.
// Blocks queued with DispatchQueue::main()->async() or asyncAfter() wait until the main thread
// calls runMainLoopUntil() or drainMainQueue(). Tests pump it on the test thread.

namespace dispatch {

/// Makes the calling thread the main thread. By default the main thread is the process's initial
/// thread (the one running `main`), so a worker that touches the main queue first never takes it.
void bindMainThread();

/// True on the main thread.
bool isMainThread();

/// What makes runMainLoopUntil() look at its `done` condition again while it has nothing to run.
enum class Recheck : bool {
  /// Only what wakes the loop: a main-queue block, a due timer, a move of the manual clock or
  /// wakeMainLoop(). Whoever changes the condition elsewhere calls wakeMainLoop() (a signal
  /// handler may). An idle loop sleeps without waking until one of them comes.
  Never,
  /// Also now and then (mainLoopRecheckSeconds()), for a condition another thread changes without
  /// waking the loop, such as a flag a completion handler sets on its own queue.
  Periodically,
};

/// Runs main-queue blocks, including asyncAfter blocks as they become due, on the calling main
/// thread until `done()` is true. Between blocks the loop sleeps until the next timer deadline, a
/// block arrives, the manual clock moves or wakeMainLoop() is called; `done()` is checked before
/// each block and after each wake-up. With Recheck::Periodically a condition that another thread
/// changes without waking the loop is still seen: after mainLoopRecheckSeconds() of the wake-ups
/// that found nothing to do. With Recheck::Never the loop sleeps until something wakes it: an app's
/// loop, whose end comes through a wake-up, does not wake while idle.
/// Returns true when done() held, false when `timeoutSeconds` of REAL time passed first (a manual
/// clock that never moves cannot hang a caller); kForever waits without limit. Called on a thread
/// other than the main thread it runs nothing and returns done().
bool runMainLoopUntil(const std::function<bool()>& done, double timeoutSeconds,
                      Recheck recheck = Recheck::Periodically);

/// How long a main loop sleeps before it looks at its `done` condition again, after
/// `idleWakeUps` wake-ups in a row that found nothing to do: kMainLoopRecheckSeconds at first,
/// doubling up to kMainLoopLongestRecheckSeconds. A condition changed by another thread that
/// did not wake the loop is seen soon after a burst of work and at most this late when idle.
double mainLoopRecheckSeconds(int idleWakeUps);
inline constexpr double kMainLoopRecheckSeconds = 0.05;
inline constexpr double kMainLoopLongestRecheckSeconds = 0.4;

/// What a main loop tells its observer: it is about to sleep, or it has just woken.
enum class MainLoopActivity : std::uint8_t { BeforeWaiting, AfterWaiting };

/// Installs the function that runMainLoopUntil() calls on the main thread just before each sleep
/// and just after it; an empty function removes it. Main thread only, while no loop runs. Tests
/// count the loop's sleeps with it.
void setMainLoopObserver(std::function<void(MainLoopActivity)> observer);

/// The event descriptor that becomes readable when the main queue has work (a block, a due
/// timer, wakeMainLoop()). A toolkit's own loop watches it and calls drainMainQueue(), which
/// consumes the wake-ups; -1 when the descriptor cannot be made.
int mainLoopWakeDescriptor();

/// Makes a sleeping main run loop look at its `done` condition again. Any thread may call it, and
/// so may a signal handler (it only writes to an event descriptor).
void wakeMainLoop();

/// Consumes the pending wake-ups of mainLoopWakeDescriptor(), then runs every main-queue block
/// that is due now, including the ones those blocks queue, and returns how many ran. Main thread only (elsewhere it runs nothing and returns 0).
std::size_t drainMainQueue();

}  // namespace dispatch
