#pragma once
// The sampling half of the profiler: a thread that wakes at a fixed frequency, stops each running
// thread of the process (a real-time signal interrupts it, and the thread walks its own stack by
// frame pointers in the handler, into a buffer the sampler made before) and hands one backtrace
// per thread to a callback. Sleeping threads are not woken: they give an empty backtrace. While a
// thread is stopped the sampler neither allocates nor takes a lock, and neither does the thread.
#include "platform/kernel/ThreadSampling.h"
#include "platform/kernel/ThreadState.h"
#include "platform/kernel/Threads.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace dozidi::profiling {

/// One thread's identity in a sample. `threadID` is the kernel thread id; 0 marks a thread that
/// is never sampled (the reporter's own threads).
struct ThreadMetadata {
  std::uint64_t threadID = 0;
  std::string name;  // at most 100 bytes; empty when unknown
  std::int32_t priority = -1;  // -1 when unknown
};

/// A thread's work queue. Linux threads have none, so the address stays 0 and the label absent.
struct QueueMetadata {
  std::uint64_t address = 0;
  std::shared_ptr<const std::string> label;
};

/// One thread at one instant.
struct Backtrace {
  ThreadMetadata threadMetadata;
  QueueMetadata queueMetadata;
  std::uint64_t absoluteTimestamp = 0;  // on the clock of getAbsoluteTime
  std::vector<std::uint64_t> addresses;  // innermost first
};

/// A stack's highest address (`start`) and lowest (`end`); both 0 when unknown.
struct StackBounds {
  std::uint64_t start = 0;
  std::uint64_t end = 0;
};

/// The most frames one walk records; a deeper stack gives no sample.
inline constexpr std::size_t kMaxBacktraceDepth = 128;
/// How long a pass waits for the running threads to walk their stacks before it skips the late
/// ones for this pass. A thread can be slow to take the signal (it masks it for a while, or a
/// runtime defers it to a safe point); a crash report's longer wait would let such a thread hold
/// up the passes that sample every other thread.
inline constexpr long kParkDeadlineMilliseconds = 50;

/// Walks a frame-pointer chain starting at instruction address `pc` and frame pointer `fp`,
/// writing at most `maxDepth` addresses (the `pc` first, then each return address less one, so
/// that it lies inside the calling instruction) after leaving out `skip` of them. A frame pointer
/// counts only when it lies above `bounds.end`, below `bounds.start - 16` and is 16-byte aligned,
/// and each must be above the one before. Returns the number written; 0 when the bounds are
/// empty or the first frame pointer does not count (and then `reachedEndOfStack` is left as is).
/// `reachedEndOfStack` tells whether the chain ended before the depth limit stopped the walk.
/// Reads memory only through reads that cannot fault; for a thread stopped by the suspension
/// (`stoppedThread`, 0 for none) frame records come first from the copy of its stack top that it
/// made when it stopped.
/// No allocation, no locks.
std::size_t backtrace(std::uint64_t pc, std::uint64_t fp, const StackBounds& bounds, std::uint64_t* addresses,
                      bool* reachedEndOfStack, std::size_t maxDepth, std::size_t skip,
                      kernel::ThreadId stoppedThread = 0);

/// Thread identities seen during one profiling run. Only the sampling thread uses it.
class ThreadMetadataCache {
 public:
  /// Reads a thread's name. Returns false when the thread has none.
  using NameReader = bool (*)(kernel::ThreadId thread, std::string* name);
  /// A cache that reads names with `reader` (tests give a double); none reads the kernel's.
  explicit ThreadMetadataCache(NameReader reader = nullptr) : nameReader_(reader) {}

  /// The cached identity, else one read now: the scheduling priority and the name. A thread whose
  /// priority cannot be read gets {id, "", -1} and is asked again next time. A thread whose name
  /// starts with "io.dozidi" gets {0, "", 0}: it is never sampled.
  ThreadMetadata metadataForThread(kernel::ThreadId thread);
  /// The cached identity, or none when the thread has not been cached. No allocation, no locks.
  const ThreadMetadata* cachedMetadataForThread(kernel::ThreadId thread) const;
  /// The cached entry with that address, else an empty one; address 0 always gives the empty one.
  QueueMetadata metadataForQueue(std::uint64_t address) const;
  void addQueueMetadata(QueueMetadata metadata);


 private:
  struct ThreadEntry {
    kernel::ThreadId thread;
    ThreadMetadata metadata;
  };
  std::vector<ThreadEntry> threads_;
  std::vector<QueueMetadata> queues_;
  NameReader nameReader_ = nullptr;
};

/// The sampling interval for a frequency, in nanoseconds, as the sampler computes it (single
/// precision): 9,900,990 for 101 Hz. 0 for a frequency of 0.
std::uint64_t samplingIntervalNanoseconds(std::uint32_t frequencyHz);

/// Whether a thread is running or ready to run now (state R of the kernel); a thread that cannot
/// be read counts as not running. No allocation, no locks.
bool isThreadRunning(kernel::ThreadId thread);

/// Whether the text of a thread's /proc stat file shows it running or ready to run.
bool statTextShowsRunning(const char* text, long length);
/// Whether the text of a thread's /proc syscall file shows it running or ready to run: the kernel
/// then writes "running" instead of the call the thread waits in.
bool syscallTextShowsRunning(const char* text, long length);

/// The sampler. Always held by shared ownership. A failed construction (no free real-time
/// signal, no timer) leaves it uninitialized: starting it then only logs.
class SamplingProfiler {
 public:
  using Callback = std::function<void(const Backtrace&)>;

  static std::shared_ptr<SamplingProfiler> create(Callback callback, std::uint32_t frequencyHz);
  ~SamplingProfiler();
  SamplingProfiler(const SamplingProfiler&) = delete;
  SamplingProfiler& operator=(const SamplingProfiler&) = delete;

  /// Starts the sampling thread unless it runs; `onThreadStart` runs first on it. Re-starting
  /// resets the sample count.
  void startSampling(std::function<void()> onThreadStart = {});
  /// Stops and joins the sampling thread: once this returns, no callback runs and the thread is
  /// gone. Nothing when it does not run.
  void stopSampling();
  bool isSampling();
  bool isInitialized() const { return initialized_; }
  /// Wake-ups of the current run.
  std::uint64_t numSamples() const { return numSamples_.load(std::memory_order_relaxed); }
  /// The sampling thread's kernel id while it runs, else 0.
  kernel::ThreadId samplingThreadId() const { return samplingThread_.load(std::memory_order_acquire); }
  std::uint64_t intervalNanoseconds() const { return intervalNs_; }

  /// One sampling pass over every other thread, calling `callback` on the calling thread.
  void samplePass(const Callback& callback);
  /// A pass in two halves, as the sampling thread takes it, a sampling interval apart: `beginPass`
  /// reads the states and asks the running threads to walk their stacks, `endPass` waits for
  /// what is still out (usually nothing by then), settles the pass and calls `callback`. Between
  /// the two the caller may sleep but neither allocate nor take a lock, as threads asked may be
  /// walking. `beginPass` ends a pass still open first; `endPass` without one does nothing. Both
  /// on one thread, and not while the sampler samples (its own thread takes its passes).
  void beginPass(const Callback& callback);
  void endPass(const Callback& callback);

 private:
  SamplingProfiler(Callback callback, std::uint32_t frequencyHz);
  void run(std::function<void()> onThreadStart);
  const StackBounds* cachedBounds(kernel::ThreadId thread) const;
  void rememberBounds(kernel::ThreadId thread, const StackBounds& bounds);
  void forgetBounds(kernel::ThreadId thread);
  enum class RunState { Running, Idle, Gone };
  /// The thread's run state through its syscall (else stat) file kept open between passes (one
  /// pread); `hint` is where the search for the thread's file starts and is moved past the file
  /// found. Opens the file of a thread seen for the first time. No allocation, no locks.
  RunState threadRunState(kernel::ThreadId thread, std::size_t* hint);
  /// The number of threads listed in threadIds_ for this pass, listed again only when needed;
  /// -1 when the threads cannot be listed.
  int refreshThreadList();
  /// Closes the stat files of threads that the pass `pass` did not list.
  void forgetUnlistedThreads(std::uint64_t pass);
  void closeStateFiles();
  /// Asks the thread of entry `k` of the chunk to walk its own stack into records_[k].
  /// No allocation, no locks.
  void askToWalk(kernel::SamplingRound& round, int k);
  /// Waits for the threads asked for the first `count` entries of the chunk, asks those whose
  /// identity had to wait until no thread was asked, and hands over the chunk's samples in order.
  void finishChunk(kernel::SamplingRound& round, int count, const Callback& callback);
  bool readStackMappings();

  Callback callback_;
  std::uint64_t intervalNs_ = 0;
  bool initialized_ = false;
  int timer_ = -1;
  std::mutex mutex_;
  bool sampling_ = false;  // guarded by mutex_
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<std::uint64_t> numSamples_{0};
  std::atomic<kernel::ThreadId> samplingThread_{0};
  ThreadMetadataCache cache_;

  // Buffers made at construction and used while a thread is stopped.
  struct Range {
    std::uint64_t low, high;
  };
  struct CachedBounds {
    kernel::ThreadId thread;
    StackBounds bounds;
  };
  /// Bytes of its stack above the stack pointer that a stopped thread copies with one safe read,
  /// enough for the frame records of a usual stack; records above are read one by one.
  static constexpr std::size_t kStackTopBytes = 4096;
  /// What a stopped thread is given and leaves behind when it walks its own stack.
  struct WalkRecord {
    StackBounds bounds;                // the stack the sampler knows for the thread, or empty
    const Range* mappings = nullptr;   // this pass's readable and writable mappings, or none
    std::size_t mappingCount = 0;
    StackBounds found;                 // the stack found in the mappings, when it was looked up
    std::uint64_t* addresses = nullptr;  // kMaxBacktraceDepth slots
    unsigned char* stackTop = nullptr;   // kStackTopBytes bytes
    std::uint64_t stackTopStart = 0;
    std::size_t stackTopLength = 0;
    std::size_t depth = 0;
    bool reachedEnd = false;
    bool walked = false;
    bool boundsMissed = false;         // the stack pointer lay outside every stack known
  };
  /// Runs on the stopped thread, in its signal handler: no allocation, no locks.
  static void walkOwnStack(const kernel::ThreadState& state, void* record);
  static bool readOwnFrame(const void* context, std::uint64_t frame, std::uint64_t words[2]);
  std::vector<kernel::ThreadId> threadIds_;
  int listed_ = -1;         // threads stored in threadIds_ by the last listing, -1 before it
  long threadCount_ = -1;   // threads the last listing found (may exceed what threadIds_ holds)
  bool relist_ = false;     // a listed thread was found gone: the next pass lists again
  /// Threads of a pass are handled in chunks of this many (idle ones included), each chunk's
  /// running threads asked in one round.
  static constexpr int kSampleBatch = 64;
  /// What a pass decided for one thread of the chunk.
  enum class EntryKind { Idle, Asked, Deferred, Answered, Skipped };
  struct ChunkEntry {
    kernel::ThreadId thread;
    std::uint64_t timestamp;
    EntryKind kind;
    int request;            // the request's index in the round, while Asked
    bool haveMetadata;      // batch_[k].threadMetadata is set already
  };
  /// The round of the pass begun and not yet ended, with the size of its last chunk.
  std::optional<kernel::SamplingRound> round_;
  int pendingCount_ = 0;
  std::uint64_t pendingPass_ = 0;
  std::vector<ChunkEntry> entries_;
  std::vector<Backtrace> batch_;
  std::vector<WalkRecord> records_;
  std::vector<std::uint64_t> walked_;  // kSampleBatch stacks of kMaxBacktraceDepth addresses
  std::vector<unsigned char> stackTops_;  // kSampleBatch copies of kStackTopBytes
  std::vector<Range> mappings_;
  std::size_t mappingCount_ = 0;
  std::vector<CachedBounds> bounds_;
  std::size_t boundsCount_ = 0;
  std::vector<char> mapsText_;
  // Whether the pass under way has read the mappings already: a pass reads them at most once.
  bool mapsReadThisPass_ = false;

  // An open /proc/self/task/<tid>/stat for each thread seen, in the order of the last listing,
  // so that a pass reads each state with one pread instead of an open, two reads and a close.
  // Bounded, so that a process with many threads does not spend its descriptors on them.
  struct StateFile {
    kernel::ThreadId thread;
    int fd;
    std::uint64_t listedInPass;
    bool syscallText;  // the file is "syscall", else "stat"
    kernel::FileIdentity identity;  // checked before the file is closed
  };
  std::vector<StateFile> stateFiles_;
  std::size_t stateFileCount_ = 0;
  std::size_t maxStateFiles_ = 0;
  std::uint64_t passNumber_ = 0;
  int taskList_ = -1;  // /proc/self/task, kept open between passes
  kernel::FileIdentity taskListIdentity_;  // the folder taskList_ was opened on
};

}  // namespace dozidi::profiling
