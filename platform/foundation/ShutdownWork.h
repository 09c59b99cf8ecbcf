#pragma once
#include <cstdint>
#include <functional>
#include <string>

namespace foundation {

/// Work a process does when it ends in order: writing what a session keeps, a crash reporter's
/// end-of-session record. A program ends through exitProcess(), which runs the work registered
/// then, bounded in time, and ends the process without tearing down process-wide objects that
/// worker threads (network, browser, timers) may still be using.
///
/// Safe from any thread. Work runs on a thread of its own, newest first, one at a time; it may run
/// while its registration ends on another thread, so it owns (or holds weakly) what it uses.
class ShutdownWork {
 public:
  /// Keeps one piece of work registered for as long as it lives; moving it moves the registration.
  class Registration {
   public:
    Registration() = default;
    explicit Registration(std::uint64_t id) : id_(id) {}
    Registration(Registration&& other) noexcept : id_(other.id_) { other.id_ = 0; }
    Registration& operator=(Registration&& other) noexcept;
    Registration(const Registration&) = delete;
    Registration& operator=(const Registration&) = delete;
    ~Registration() { end(); }
    /// Removes the work: it does not run at exit unless it has started already.
    void end();

   private:
    std::uint64_t id_ = 0;
  };

  /// How long exitProcess() waits for the registered work unless told otherwise: enough to write a
  /// few small files, short enough that a stuck piece of work does not hold the user's terminal.
  static constexpr double kDefaultBoundSeconds = 2.0;

  /// Registers `work` under `name` (for the reader of a hung exit) to run at exit.
  [[nodiscard]] static Registration add(std::string name, std::function<void()> work);

  /// Runs the registered work, waiting at most `boundSeconds` (process clock) for all of it; then
  /// flushes the standard streams and ends the process with `status`. Work still running at the
  /// bound is abandoned. Static objects are not destroyed and atexit handlers do not run.
  [[noreturn]] static void exitProcess(int status, double boundSeconds = kDefaultBoundSeconds);
};

}  // namespace foundation
