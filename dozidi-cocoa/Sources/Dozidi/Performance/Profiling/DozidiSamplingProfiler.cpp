#include "dozidi-cocoa/Sources/Dozidi/Performance/Profiling/DozidiSamplingProfiler.h"

#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiLog.h"
#include "dozidi-cocoa/Sources/Dozidi/Tools/DozidiTime.h"
#include "platform/kernel/SafeMemory.h"
#include "platform/kernel/ThreadSampling.h"
#include "platform/kernel/ThreadState.h"
#include "platform/kernel/ThreadSuspension.h"
#include "platform/kernel/detail/ProcText.h"

#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace dozidi::profiling {

namespace {

constexpr const char* kOwnThreadPrefix = "io.dozidi";
// The kernel keeps 15 bytes of a thread's name; the prefix above survives the cut.
constexpr const char* kSamplingThreadName = "io.dozidi.SamplingProfiler";
constexpr std::size_t kMaxNameBytes = 100;
constexpr int kMaxThreads = 1024;
constexpr std::size_t kMaxMappings = 8192;
constexpr std::size_t kMapsChunk = 64 * 1024;

std::string errorText(const char* call, int code) {
  return std::string(call) + " failed with code: " + std::to_string(code) + ", description: " + std::strerror(code);
}

bool readFrameWords(kernel::ThreadId stoppedThread, std::uint64_t frame, std::uint64_t words[2]) {
  constexpr std::size_t kRecordSize = 2 * sizeof(std::uint64_t);
  if (stoppedThread != 0 && kernel::readSuspendedStack(stoppedThread, frame, words, kRecordSize)) return true;
  return kernel::copySafely(reinterpret_cast<const void*>(frame), words, kRecordSize);
}

// Formats "/proc/self/task/<tid>" followed by `file` (such as "/stat") into `path` (64 bytes).
void taskFilePath(kernel::ThreadId thread, const char* file, char* path) {
  constexpr char kPrefix[] = "/proc/self/task/";
  std::memcpy(path, kPrefix, sizeof kPrefix - 1);
  std::size_t length = sizeof kPrefix - 1;
  length += static_cast<std::size_t>(kernel::detail::formatDecimal(static_cast<std::uint64_t>(thread), path + length));
  std::memcpy(path + length, file, std::strlen(file) + 1);
}

void statPath(kernel::ThreadId thread, char* path) { taskFilePath(thread, "/stat", path); }

// Opens the file that tells a thread's run state most cheaply: "syscall", whose whole text is
// "running" for a running or runnable thread (the kernel writes one word where "stat" formats
// some fifty fields), else "stat". `identity` is the file's, for closing it later.
int openStateFile(kernel::ThreadId thread, bool* syscallText, kernel::FileIdentity* identity) {
  char path[64];
  taskFilePath(thread, "/syscall", path);
  int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  *syscallText = fd >= 0;
  if (fd < 0) {
    statPath(thread, path);
    fd = ::open(path, O_RDONLY | O_CLOEXEC);
  }
  if (fd >= 0 && !kernel::identifyFile(fd, identity)) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Closes a state file unless its number names another file now: a program may close
// descriptors it did not open, and the file that took the number is not ours to close.
void closeStateFile(int fd, const kernel::FileIdentity& identity) {
  if (kernel::stillNames(fd, identity)) ::close(fd);
}

// The most stat files a sampler keeps open, and the share of the descriptor limit it may take.
constexpr std::size_t kMaxStateFiles = 256;
constexpr std::size_t kStateFilesShareOfLimit = 8;

bool frameCounts(std::uint64_t fp, const StackBounds& bounds) {
  return fp > bounds.end && fp % 16 == 0 && bounds.start >= 16 && fp < bounds.start - 16;
}

bool kernelNameReader(kernel::ThreadId thread, std::string* name) {
  char buffer[64] = {};
  if (!kernel::readThreadName(thread, buffer, sizeof buffer)) return false;
  *name = buffer;
  return true;
}

// Parses a hexadecimal number at `text`, moving it past the digits.
std::uint64_t parseHex(const char*& text, const char* end) {
  std::uint64_t value = 0;
  while (text < end) {
    char c = *text;
    int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    if (digit < 0) break;
    value = value << 4 | static_cast<std::uint64_t>(digit);
    ++text;
  }
  return value;
}

}  // namespace

namespace {

// Reads the frame record {next frame pointer, return address} at `frame`.
using FrameReader = bool (*)(const void* context, std::uint64_t frame, std::uint64_t words[2]);

std::size_t walkFrames(std::uint64_t pc, std::uint64_t fp, const StackBounds& bounds, std::uint64_t* addresses,
                       bool* reachedEndOfStack, std::size_t maxDepth, std::size_t skip, FrameReader read,
                       const void* context) {
  if (maxDepth == 0 || bounds.start == 0 || bounds.end == 0 || bounds.start <= bounds.end) return 0;
  if (!frameCounts(fp, bounds)) return 0;
  std::size_t count = 0;
  if (skip > 0) {
    --skip;
  } else {
    addresses[count++] = kernel::normaliseInstructionPointer(pc);
  }
  std::uint64_t frame = fp;
  for (;;) {
    if (count >= maxDepth) {
      *reachedEndOfStack = false;
      return count;
    }
    std::uint64_t words[2];
    if (!read(context, frame, words)) break;
    if (skip > 0) {
      --skip;
    } else if (words[1] != 0) {
      addresses[count++] = kernel::normaliseInstructionPointer(words[1]) - 1;
    }
    const std::uint64_t next = words[0];
    if (next <= frame || !frameCounts(next, bounds)) break;
    frame = next;
  }
  *reachedEndOfStack = true;
  return count;
}

bool readStoppedFrame(const void* context, std::uint64_t frame, std::uint64_t words[2]) {
  return readFrameWords(*static_cast<const kernel::ThreadId*>(context), frame, words);
}

}  // namespace

std::size_t backtrace(std::uint64_t pc, std::uint64_t fp, const StackBounds& bounds, std::uint64_t* addresses,
                      bool* reachedEndOfStack, std::size_t maxDepth, std::size_t skip, kernel::ThreadId stoppedThread) {
  return walkFrames(pc, fp, bounds, addresses, reachedEndOfStack, maxDepth, skip, readStoppedFrame, &stoppedThread);
}

ThreadMetadata ThreadMetadataCache::metadataForThread(kernel::ThreadId thread) {
  for (const ThreadEntry& entry : threads_) {
    if (entry.thread == thread) return entry.metadata;
  }
  ThreadMetadata metadata;
  metadata.threadID = static_cast<std::uint64_t>(thread);
  sched_param param{};
  if (::sched_getparam(thread, &param) != 0) {
    DOZIDI_LOG_DEBUG(errorText("sched_getparam(thread, &param)", errno));
    metadata.priority = -1;
    return metadata;
  }
  metadata.priority = param.sched_priority;
  std::string name;
  NameReader reader = nameReader_ != nullptr ? nameReader_ : kernelNameReader;
  if (reader(thread, &name)) {
    if (name.rfind(kOwnThreadPrefix, 0) == 0) {
      ThreadMetadata never{0, "", 0};
      threads_.push_back({thread, never});
      return never;
    }
    if (name.size() > kMaxNameBytes) name.resize(kMaxNameBytes);
    metadata.name = std::move(name);
  }
  threads_.push_back({thread, metadata});
  return metadata;
}

const ThreadMetadata* ThreadMetadataCache::cachedMetadataForThread(kernel::ThreadId thread) const {
  for (const ThreadEntry& entry : threads_) {
    if (entry.thread == thread) return &entry.metadata;
  }
  return nullptr;
}

QueueMetadata ThreadMetadataCache::metadataForQueue(std::uint64_t address) const {
  if (address == 0) return {};
  for (const QueueMetadata& entry : queues_) {
    if (entry.address == address) return entry;
  }
  return {};
}

void ThreadMetadataCache::addQueueMetadata(QueueMetadata metadata) { queues_.push_back(std::move(metadata)); }

std::uint64_t samplingIntervalNanoseconds(std::uint32_t frequencyHz) {
  if (frequencyHz == 0) return 0;
  const float seconds = 1.0f / static_cast<float>(frequencyHz);
  return static_cast<std::uint64_t>(seconds * 1e9f);
}

bool statTextShowsRunning(const char* text, long length) {
  // The state follows the name in parentheses; the name may hold ')' itself, so take the last.
  const char* close = nullptr;
  for (long i = length - 1; i >= 0; --i) {
    if (text[i] == ')') {
      close = text + i;
      break;
    }
  }
  if (close == nullptr || close + 2 >= text + length || close[1] != ' ') return false;
  return close[2] == 'R';
}

bool syscallTextShowsRunning(const char* text, long length) {
  constexpr char kRunning[] = "running";
  return length >= static_cast<long>(sizeof kRunning - 1) && std::memcmp(text, kRunning, sizeof kRunning - 1) == 0;
}

bool isThreadRunning(kernel::ThreadId thread) {
  char path[64];
  statPath(thread, path);
  char text[512];
  const long length = kernel::detail::readSmallFile(path, text, sizeof text);
  return length > 0 && statTextShowsRunning(text, length);
}

std::shared_ptr<SamplingProfiler> SamplingProfiler::create(Callback callback, std::uint32_t frequencyHz) {
  return std::shared_ptr<SamplingProfiler>(new SamplingProfiler(std::move(callback), frequencyHz));
}

SamplingProfiler::SamplingProfiler(Callback callback, std::uint32_t frequencyHz)
    : callback_(std::move(callback)),
      intervalNs_(samplingIntervalNanoseconds(frequencyHz)),
      threadIds_(kMaxThreads),
      entries_(kSampleBatch),
      batch_(kSampleBatch),
      records_(kSampleBatch),
      walked_(kSampleBatch * kMaxBacktraceDepth),
      stackTops_(kSampleBatch * kStackTopBytes),
      mappings_(kMaxMappings),
      bounds_(kMaxThreads),
      mapsText_(kMapsChunk) {
  rlimit files{};
  maxStateFiles_ = kMaxStateFiles;
  if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY &&
      files.rlim_cur / kStateFilesShareOfLimit < maxStateFiles_) {
    maxStateFiles_ = static_cast<std::size_t>(files.rlim_cur / kStateFilesShareOfLimit);
  }
  stateFiles_.resize(maxStateFiles_);
  for (std::size_t k = 0; k < records_.size(); ++k) {
    records_[k].addresses = &walked_[k * kMaxBacktraceDepth];
    records_[k].stackTop = &stackTops_[k * kStackTopBytes];
  }
  if (intervalNs_ == 0) {
    DOZIDI_LOG_ERROR("A sampling frequency of 0 Hz cannot be used.");
    return;
  }
  if (!kernel::installThreadSampling()) {
    DOZIDI_LOG_ERROR("No real-time signal is free to sample threads with; the profiler cannot sample.");
    return;
  }
  kernel::prepareSafeReads();
  // Blocking: the sampling thread sleeps in its read until the next sample is due.
  timer_ = ::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC);
  if (timer_ < 0) {
    DOZIDI_LOG_ERROR(errorText("timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC)", errno));
    return;
  }
  initialized_ = true;
}

SamplingProfiler::~SamplingProfiler() {
  stopSampling();
  closeStateFiles();
  if (taskList_ >= 0 && kernel::countThreadsIn(taskList_, &taskListIdentity_) >= 0) ::close(taskList_);
  if (timer_ >= 0) ::close(timer_);
}

void SamplingProfiler::startSampling(std::function<void()> onThreadStart) {
  if (!initialized_) {
    DOZIDI_LOG_WARN("startSampling is no-op because SamplingProfiler failed to initialize");
    return;
  }
  std::lock_guard lock(mutex_);
  if (sampling_) return;
  sampling_ = true;
  numSamples_.store(0, std::memory_order_relaxed);
  stop_.store(false, std::memory_order_release);
  thread_ = std::thread([this, hook = std::move(onThreadStart)]() mutable { run(std::move(hook)); });
}

void SamplingProfiler::stopSampling() {
  if (!initialized_) return;
  std::lock_guard lock(mutex_);
  if (!sampling_) return;
  // A flag and a wake rather than cancellation: the thread ends between passes, never while it
  // holds a parked thread or a lock. The wake is the timer, made due at once; should the thread
  // re-arm it after this (it found the flag clear just before), it sees the flag before it waits
  // again.
  stop_.store(true, std::memory_order_release);
  itimerspec now{};
  now.it_value.tv_nsec = 1;
  if (::timerfd_settime(timer_, 0, &now, nullptr) != 0) {
    DOZIDI_LOG_ERROR(errorText("timerfd_settime(timer_, 0, &now, nullptr)", errno));
  }
  if (thread_.joinable()) thread_.join();
  sampling_ = false;
}

bool SamplingProfiler::isSampling() {
  std::lock_guard lock(mutex_);
  return sampling_;
}

void SamplingProfiler::run(std::function<void()> onThreadStart) {
  samplingThread_.store(kernel::currentThreadId(), std::memory_order_release);
  char shortName[16] = {};
  std::memcpy(shortName, kSamplingThreadName, sizeof shortName - 1);
  if (int rc = ::pthread_setname_np(::pthread_self(), shortName); rc != 0) {
    DOZIDI_LOG_ERROR(errorText("pthread_setname_np(\"io.dozidi.SamplingProfiler\")", rc));
  }
  if (onThreadStart) onThreadStart();

  itimerspec delay{};
  delay.it_value.tv_sec = static_cast<time_t>(intervalNs_ / 1000000000);
  delay.it_value.tv_nsec = static_cast<long>(intervalNs_ % 1000000000);
  if (::timerfd_settime(timer_, 0, &delay, nullptr) != 0) {
    DOZIDI_LOG_ERROR(errorText("timerfd_settime(timer_, 0, &delay, nullptr)", errno));
  } else {
    while (!stop_.load(std::memory_order_acquire)) {
      // One call waits for the timer and takes its expiry (re-arming resets the count, so no
      // expiry is left over); stopSampling wakes it the same way.
      // A failure is logged once the pass under way is settled: logging allocates.
      std::uint64_t expirations = 0;
      if (::read(timer_, &expirations, sizeof expirations) < 0) {
        const int error = errno;
        if (error == EINTR) continue;
        endPass(callback_);
        DOZIDI_LOG_ERROR(errorText("read(timer_, &expirations, sizeof expirations)", error));
        break;
      }
      if (stop_.load(std::memory_order_acquire)) break;
      // Re-armed before the pass, so the period does not stretch by the time a pass takes.
      if (::timerfd_settime(timer_, 0, &delay, nullptr) != 0) {
        const int error = errno;
        endPass(callback_);
        DOZIDI_LOG_ERROR(errorText("timerfd_settime(timer_, 0, &delay, nullptr)", error));
        break;
      }
      numSamples_.fetch_add(1, std::memory_order_relaxed);
      // The answers to the pass before came in while this thread waited for the timer: taking
      // them now costs no sleep of its own, where waiting for them in their pass would cost a
      // sleep and a wake-up per pass.
      endPass(callback_);
      beginPass(callback_);
    }
  }
  endPass(callback_);
  itimerspec disarm{};
  ::timerfd_settime(timer_, 0, &disarm, nullptr);
  // A stopped sampler holds no descriptor per thread.
  closeStateFiles();
  samplingThread_.store(0, std::memory_order_release);
}

bool SamplingProfiler::readStackMappings() {
  // open, read and close only: this may run while a thread is parked.
  int fd = ::open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  mappingCount_ = 0;
  char* text = mapsText_.data();
  std::size_t held = 0;
  for (;;) {
    ssize_t got = ::read(fd, text + held, mapsText_.size() - held);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    held += static_cast<std::size_t>(got);
    const char* cursor = text;
    const char* end = text + held;
    for (;;) {
      const char* newline = static_cast<const char*>(std::memchr(cursor, '\n', static_cast<std::size_t>(end - cursor)));
      if (newline == nullptr) break;
      const char* p = cursor;
      std::uint64_t low = parseHex(p, newline);
      if (p < newline && *p == '-') {
        ++p;
        std::uint64_t high = parseHex(p, newline);
        // Permissions follow: a stack is readable and writable.
        if (newline - p > 3 && p[1] == 'r' && p[2] == 'w' && mappingCount_ < mappings_.size()) {
          mappings_[mappingCount_++] = {low, high};
        }
      }
      cursor = newline + 1;
    }
    held = static_cast<std::size_t>(end - cursor);
    std::memmove(text, cursor, held);
    if (held == mapsText_.size()) held = 0;  // a line longer than the buffer: drop it
  }
  ::close(fd);
  return mappingCount_ > 0;
}

const StackBounds* SamplingProfiler::cachedBounds(kernel::ThreadId thread) const {
  for (std::size_t i = 0; i < boundsCount_; ++i) {
    if (bounds_[i].thread == thread) return &bounds_[i].bounds;
  }
  return nullptr;
}

void SamplingProfiler::rememberBounds(kernel::ThreadId thread, const StackBounds& bounds) {
  for (std::size_t i = 0; i < boundsCount_; ++i) {
    if (bounds_[i].thread == thread) {
      bounds_[i].bounds = bounds;
      return;
    }
  }
  if (boundsCount_ < bounds_.size()) bounds_[boundsCount_++] = {thread, bounds};
}

void SamplingProfiler::forgetBounds(kernel::ThreadId thread) {
  for (std::size_t i = 0; i < boundsCount_; ++i) {
    if (bounds_[i].thread == thread) {
      bounds_[i] = bounds_[--boundsCount_];
      return;
    }
  }
}

SamplingProfiler::RunState SamplingProfiler::threadRunState(kernel::ThreadId thread, std::size_t* hint) {
  StateFile* file = nullptr;
  // Threads are listed in the same order pass after pass, so the file is usually the next one.
  for (std::size_t i = *hint; i < stateFileCount_ && file == nullptr; ++i) {
    if (stateFiles_[i].thread == thread) {
      file = &stateFiles_[i];
      *hint = i + 1;
    }
  }
  for (std::size_t i = 0; i < *hint && i < stateFileCount_ && file == nullptr; ++i) {
    if (stateFiles_[i].thread == thread) file = &stateFiles_[i];
  }
  if (file == nullptr) {
    if (stateFileCount_ == maxStateFiles_) {
      // Without a file of its own a thread that ends unseen could be followed by one that
      // starts: threads beyond the table are listed again every pass.
      relist_ = true;
      return isThreadRunning(thread) ? RunState::Running : RunState::Idle;
    }
    bool syscallText = false;
    kernel::FileIdentity identity;
    const int fd = openStateFile(thread, &syscallText, &identity);
    if (fd < 0) {
      relist_ = true;
      return RunState::Gone;
    }
    file = &stateFiles_[stateFileCount_++];
    *file = {thread, fd, 0, syscallText, identity};
  }
  file->listedInPass = passNumber_;
  char text[512];
  // "running" is all that the syscall text is read for.
  const std::size_t wanted = file->syscallText ? 16 : sizeof text;
  ssize_t length = ::pread(file->fd, text, wanted, 0);
  if (length <= 0) {
    // The thread the file was opened for has ended; a new thread may carry its id now, else the
    // listing is out of date.
    closeStateFile(file->fd, file->identity);
    file->fd = openStateFile(thread, &file->syscallText, &file->identity);
    length = file->fd < 0 ? -1 : ::pread(file->fd, text, file->syscallText ? 16 : sizeof text, 0);
    if (length <= 0) {
      relist_ = true;
      return RunState::Gone;
    }
  }
  const bool running = file->syscallText ? syscallTextShowsRunning(text, static_cast<long>(length))
                                         : statTextShowsRunning(text, static_cast<long>(length));
  return running ? RunState::Running : RunState::Idle;
}

void SamplingProfiler::forgetUnlistedThreads(std::uint64_t pass) {
  std::size_t kept = 0;
  for (std::size_t i = 0; i < stateFileCount_; ++i) {
    StateFile& file = stateFiles_[i];
    if (file.listedInPass == pass && file.fd >= 0) {
      stateFiles_[kept++] = file;
    } else if (file.fd >= 0) {
      closeStateFile(file.fd, file.identity);
    }
  }
  stateFileCount_ = kept;
}

void SamplingProfiler::closeStateFiles() {
  for (std::size_t i = 0; i < stateFileCount_; ++i) {
    const StateFile& file = stateFiles_[i];
    if (file.fd >= 0) closeStateFile(file.fd, file.identity);
  }
  stateFileCount_ = 0;
}

int SamplingProfiler::refreshThreadList() {
  if (taskList_ >= 0) {
    // The task folder's link count is two plus the number of threads. The same number means the
    // same threads unless one ended and another started, and an ended thread is found gone when
    // its state is read, which sets relist_: a listing (several times the cost) is read only
    // when the threads changed.
    const int threads = kernel::countThreadsIn(taskList_, &taskListIdentity_);
    if (threads < 0) {
      // A program may close descriptors it did not open, and the number may name another file
      // now: that file is not ours to read or close, so the folder is opened anew.
      taskList_ = -1;
      listed_ = -1;
    } else if (listed_ >= 0 && !relist_ && threads == threadCount_) {
      return listed_;
    }
  }
  if (taskList_ < 0) {
    taskList_ = kernel::openThreadList();
    if (taskList_ >= 0 && !kernel::identifyThreadList(taskList_, &taskListIdentity_)) {
      ::close(taskList_);
      taskList_ = -1;
    }
  }
  const int count = taskList_ >= 0 ? kernel::listThreadsIn(taskList_, threadIds_.data(), static_cast<int>(threadIds_.size()))
                                   : kernel::listThreads(threadIds_.data(), static_cast<int>(threadIds_.size()));
  if (count < 0) {
    listed_ = -1;
    return -1;
  }
  relist_ = false;
  threadCount_ = count;
  listed_ = count > static_cast<int>(threadIds_.size()) ? static_cast<int>(threadIds_.size()) : count;
  return listed_;
}

void SamplingProfiler::samplePass(const Callback& callback) {
  beginPass(callback);
  endPass(callback);
}

void SamplingProfiler::beginPass(const Callback& callback) {
  if (round_) endPass(callback);
  const kernel::ThreadId self = kernel::currentThreadId();
  const int listed = refreshThreadList();
  if (listed < 0) return;
  const std::uint64_t pass = ++passNumber_;
  mapsReadThisPass_ = false;
  std::size_t hint = 0;
  // Each running thread is asked as soon as its state is read, so the threads asked first walk
  // their stacks while the sampler reads the states of the rest; sleeping threads give an empty
  // sample unasked. Every callback waits until the chunk's threads have answered.
  kernel::SamplingRound& round = round_.emplace(walkOwnStack);
  int count = 0;
  for (int i = 0; i < listed; ++i) {
    const kernel::ThreadId thread = threadIds_[i];
    if (thread == self) continue;
    const std::uint64_t timestamp = getAbsoluteTime();
    const RunState state = threadRunState(thread, &hint);
    if (state == RunState::Gone) continue;
    ChunkEntry& entry = entries_[static_cast<std::size_t>(count)];
    entry = {thread, timestamp, EntryKind::Idle, -1, false};
    if (state == RunState::Running) {
      const ThreadMetadata* known = cache_.cachedMetadataForThread(thread);
      if (known != nullptr && known->threadID == 0) continue;
      if (known == nullptr && round.asked() > 0) {
        // Reading a thread's identity allocates, which waits until no thread is asked.
        entry.kind = EntryKind::Deferred;
      } else {
        if (known == nullptr) {
          ThreadMetadata metadata = cache_.metadataForThread(thread);
          if (metadata.threadID == 0) continue;
          batch_[static_cast<std::size_t>(count)].threadMetadata = std::move(metadata);
          entry.haveMetadata = true;
        }
        askToWalk(round, count);
      }
    }
    if (++count == kSampleBatch) {
      finishChunk(round, count, callback);
      count = 0;
    }
  }
  // The last chunk is settled by endPass.
  pendingCount_ = count;
  pendingPass_ = pass;
}

void SamplingProfiler::endPass(const Callback& callback) {
  if (!round_) return;
  if (pendingCount_ > 0) finishChunk(*round_, pendingCount_, callback);
  round_.reset();
  pendingCount_ = 0;
  forgetUnlistedThreads(pendingPass_);
}

bool SamplingProfiler::readOwnFrame(const void* context, std::uint64_t frame, std::uint64_t words[2]) {
  const auto& record = *static_cast<const WalkRecord*>(context);
  constexpr std::size_t kRecordSize = 2 * sizeof(std::uint64_t);
  if (frame >= record.stackTopStart && frame - record.stackTopStart <= record.stackTopLength &&
      record.stackTopLength - (frame - record.stackTopStart) >= kRecordSize) {
    std::memcpy(words, record.stackTop + (frame - record.stackTopStart), kRecordSize);
    return true;
  }
  return kernel::copySafely(reinterpret_cast<const void*>(frame), words, kRecordSize);
}

void SamplingProfiler::walkOwnStack(const kernel::ThreadState& state, void* raw) {
  auto& record = *static_cast<WalkRecord*>(raw);
  const std::uint64_t sp = kernel::stackPointer(state);
  StackBounds bounds = record.bounds;
  if (!(sp >= bounds.end && sp < bounds.start)) {
    bounds = {};
    for (std::size_t i = 0; i < record.mappingCount; ++i) {
      if (sp >= record.mappings[i].low && sp < record.mappings[i].high) {
        bounds = {record.mappings[i].high, record.mappings[i].low};
        record.found = bounds;
        break;
      }
    }
  }
  if (bounds.start == 0) {
    record.boundsMissed = true;
    return;
  }
  // One safe read of the stack's top instead of one per frame record. The bounds may be stale
  // (the mapping changed since it was read), so even this thread's own stack is not read with
  // plain loads. A top that cannot be read gives no sample rather than a cut one.
  const std::size_t length =
      bounds.start - sp < kStackTopBytes ? static_cast<std::size_t>(bounds.start - sp) : kStackTopBytes;
  if (!kernel::copySafely(reinterpret_cast<const void*>(sp), record.stackTop, length)) return;
  record.stackTopStart = sp;
  record.stackTopLength = length;
  record.depth = walkFrames(kernel::instructionAddress(state), kernel::framePointer(state), bounds, record.addresses,
                            &record.reachedEnd, kMaxBacktraceDepth, 0, readOwnFrame, &record);
  record.walked = true;
}

void SamplingProfiler::askToWalk(kernel::SamplingRound& round, int k) {
  ChunkEntry& entry = entries_[static_cast<std::size_t>(k)];
  WalkRecord& record = records_[static_cast<std::size_t>(k)];
  const StackBounds* known = cachedBounds(entry.thread);
  record.bounds = known != nullptr ? *known : StackBounds{};
  // A thread whose stack is not known yet finds it in the mappings, read at most once a pass
  // (open, read and close: no allocation, no lock, so threads asked before may be walking).
  if (known == nullptr && !mapsReadThisPass_) {
    mapsReadThisPass_ = true;
    if (!readStackMappings()) mappingCount_ = 0;
  }
  record.mappings = mapsReadThisPass_ ? mappings_.data() : nullptr;
  record.mappingCount = mapsReadThisPass_ ? mappingCount_ : 0;
  record.found = {};
  record.depth = 0;
  record.reachedEnd = false;
  record.walked = false;
  record.boundsMissed = false;
  entry.request = round.ask(entry.thread, &record);
  entry.kind = entry.request >= 0 ? EntryKind::Asked : EntryKind::Skipped;
}

void SamplingProfiler::finishChunk(kernel::SamplingRound& round, int count, const Callback& callback) {
  const auto settle = [&] {
    bool ran[kernel::SamplingRound::kCapacity] = {};
    if (round.asked() > 0) round.finish(ran, kParkDeadlineMilliseconds);
    for (int k = 0; k < count; ++k) {
      ChunkEntry& entry = entries_[static_cast<std::size_t>(k)];
      if (entry.kind == EntryKind::Asked) entry.kind = ran[entry.request] ? EntryKind::Answered : EntryKind::Skipped;
    }
  };
  settle();
  // No thread is asked now: the identities that had to wait are read, then those threads asked.
  bool deferred = false;
  for (int k = 0; k < count; ++k) {
    ChunkEntry& entry = entries_[static_cast<std::size_t>(k)];
    if (entry.kind != EntryKind::Deferred) continue;
    ThreadMetadata metadata = cache_.metadataForThread(entry.thread);
    if (metadata.threadID == 0) {
      entry.kind = EntryKind::Skipped;
      continue;
    }
    batch_[static_cast<std::size_t>(k)].threadMetadata = std::move(metadata);
    entry.haveMetadata = true;
    deferred = true;
  }
  for (int k = 0; deferred && k < count; ++k) {
    if (entries_[static_cast<std::size_t>(k)].kind == EntryKind::Deferred) askToWalk(round, k);
  }
  if (deferred) settle();

  for (int k = 0; k < count; ++k) {
    const ChunkEntry& entry = entries_[static_cast<std::size_t>(k)];
    if (entry.kind == EntryKind::Idle) {
      Backtrace idle;
      idle.absoluteTimestamp = entry.timestamp;
      idle.threadMetadata.threadID = static_cast<std::uint64_t>(entry.thread);
      callback(idle);
      continue;
    }
    if (entry.kind != EntryKind::Answered) continue;
    const WalkRecord& record = records_[static_cast<std::size_t>(k)];
    if (record.found.start != 0) {
      rememberBounds(entry.thread, record.found);
    } else if (record.boundsMissed) {
      forgetBounds(entry.thread);  // its stack moved: the next pass looks it up
    }
    if (!record.walked || !record.reachedEnd) continue;
    Backtrace& sample = batch_[static_cast<std::size_t>(k)];
    if (!entry.haveMetadata) {
      const ThreadMetadata* known = cache_.cachedMetadataForThread(entry.thread);
      if (known == nullptr) continue;
      sample.threadMetadata = *known;
    }
    sample.absoluteTimestamp = entry.timestamp;
    sample.addresses.assign(record.addresses, record.addresses + record.depth);
    callback(sample);
  }
}

}  // namespace dozidi::profiling
