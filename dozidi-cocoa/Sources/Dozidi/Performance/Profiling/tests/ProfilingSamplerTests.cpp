#include "dozidi-cocoa/Sources/Dozidi/Performance/Profiling/DozidiSamplingProfiler.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <link.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>
#include <condition_variable>
#include <cstdlib>
#include <fcntl.h>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

using namespace dozidi::profiling;

namespace {

pid_t tid() { return static_cast<pid_t>(::syscall(SYS_gettid)); }

// A synthetic stack: frame records {next frame pointer, return address} laid out upwards in an
// aligned buffer, as a chain of `frames` records 32 bytes apart.
struct SyntheticStack {
  alignas(16) std::uint64_t words[2048] = {};
  std::uint64_t base() const { return reinterpret_cast<std::uint64_t>(words); }
  StackBounds bounds() const { return {base() + sizeof words, base()}; }
  // Frame i sits at word 4 * (i + 1); its return address is 0x1000 + i; the last one ends the chain.
  std::uint64_t chain(int frames) {
    for (int i = 0; i < frames; ++i) {
      std::uint64_t* record = &words[4 * (i + 1)];
      record[0] = i + 1 < frames ? reinterpret_cast<std::uint64_t>(&words[4 * (i + 2)]) : 0;
      record[1] = 0x1000 + static_cast<std::uint64_t>(i);
    }
    return reinterpret_cast<std::uint64_t>(&words[4]);
  }
};

TEST(ProfilingWalkTests, WalkTableOnSyntheticStacks) {
  struct Case {
    const char* name;
    int frames;
    std::ptrdiff_t startOffset;  // added to the chain's first frame pointer
    std::size_t skip;
    std::size_t expectedCount;
    bool expectedReached;
  };
  const Case cases[] = {
      {"127 records and the pc fill the 128 slots exactly", 127, 0, 0, 128, true},
      {"one record more is cut by the depth limit", 128, 0, 0, 128, false},
      {"a short chain ends on its zero link", 3, 0, 0, 4, true},
      {"skip leaves out the pc and the first return", 3, 0, 2, 2, true},
      {"a misaligned first frame pointer gives nothing", 3, 8, 0, 0, false},
      {"a first frame pointer below the stack gives nothing", 3, -64, 0, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto stack = std::make_unique<SyntheticStack>();
    std::uint64_t fp = stack->chain(c.frames) + static_cast<std::uint64_t>(c.startOffset);
    std::uint64_t addresses[kMaxBacktraceDepth] = {};
    bool reached = false;
    std::size_t count = backtrace(0xabc, fp, stack->bounds(), addresses, &reached, kMaxBacktraceDepth, c.skip);
    EXPECT_EQ(count, c.expectedCount);
    EXPECT_EQ(reached, c.expectedReached);
    if (count >= 2 && c.skip == 0) {
      EXPECT_EQ(addresses[0], 0xabcu);
      EXPECT_EQ(addresses[1], 0x1000u - 1);  // a return address less one lies in the call
    }
    if (c.skip == 2) {
      EXPECT_EQ(addresses[0], 0x1001u - 1);
    }
  }
}

TEST(ProfilingWalkTests, ChainThatDoesNotClimbOrLeavesTheStackEnds) {
  auto stack = std::make_unique<SyntheticStack>();
  std::uint64_t fp = stack->chain(5);
  std::uint64_t addresses[kMaxBacktraceDepth];
  bool reached = false;

  // The third record points back at the first: a loop would walk forever without the check.
  stack->words[4 * 3] = fp;
  EXPECT_EQ(backtrace(1, fp, stack->bounds(), addresses, &reached, kMaxBacktraceDepth, 0), 4u);
  EXPECT_TRUE(reached);

  // A link out of the stack (here to the top record's neighbour beyond `start - 16`) stops it.
  stack = std::make_unique<SyntheticStack>();
  fp = stack->chain(2);
  stack->words[4 * 2] = stack->bounds().start;
  EXPECT_EQ(backtrace(1, fp, stack->bounds(), addresses, &reached, kMaxBacktraceDepth, 0), 3u);

  // Empty or reversed bounds and a depth of 0 give nothing.
  reached = false;
  EXPECT_EQ(backtrace(1, fp, {}, addresses, &reached, kMaxBacktraceDepth, 0), 0u);
  EXPECT_EQ(backtrace(1, fp, {stack->base(), stack->bounds().start}, addresses, &reached, kMaxBacktraceDepth, 0), 0u);
  EXPECT_EQ(backtrace(1, fp, stack->bounds(), addresses, &reached, 0, 0), 0u);
  EXPECT_FALSE(reached);
}

TEST(ProfilingSamplerTests, IntervalForTheFrequency) {
  EXPECT_EQ(samplingIntervalNanoseconds(101), 9900990u);
  EXPECT_EQ(samplingIntervalNanoseconds(101) / 1000000000, 0u);
  EXPECT_EQ(samplingIntervalNanoseconds(0), 0u);
}

std::string gFakeName;
bool fakeNames(kernel::ThreadId, std::string* name) {
  *name = gFakeName;
  return true;
}

TEST(ProfilingSamplerTests, ThreadMetadataFromNamesAndPriorities) {
  struct Case {
    std::string name;
    std::uint64_t expectedId;
    std::string expectedName;
  };
  const pid_t self = tid();
  const Case cases[] = {
      {"io.dozidi.SamplingProfiler", 0, ""},
      {"io.dozidi", 0, ""},
      {"io.sentr", static_cast<std::uint64_t>(self), "io.sentr"},
      {std::string(150, 'n'), static_cast<std::uint64_t>(self), std::string(100, 'n')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ThreadMetadataCache cache(fakeNames);
    gFakeName = c.name;
    ThreadMetadata metadata = cache.metadataForThread(self);
    EXPECT_EQ(metadata.threadID, c.expectedId);
    EXPECT_EQ(metadata.name, c.expectedName);
    EXPECT_EQ(metadata.priority, 0);
    // Cached: a later name change is not seen within the run.
    gFakeName = "renamed";
    EXPECT_EQ(cache.metadataForThread(self).name, c.expectedName);
  }

  // A thread whose priority cannot be read (here: one that does not exist) is sampled with what
  // is known and not cached.
  ThreadMetadataCache cache;
  ThreadMetadata gone = cache.metadataForThread(0x3ffffff0);
  EXPECT_EQ(gone.threadID, 0x3ffffff0u);
  EXPECT_EQ(gone.priority, -1);
  EXPECT_TRUE(gone.name.empty());

  EXPECT_EQ(cache.metadataForQueue(0).address, 0u);
  cache.addQueueMetadata({0x10, std::make_shared<const std::string>("q")});
  EXPECT_EQ(*cache.metadataForQueue(0x10).label, "q");
  EXPECT_EQ(cache.metadataForQueue(0x20).label, nullptr);
}

// Spins until told to stop. Not inlined, and its address range is found by symbol.
// The flag is read with the compiler's inline atomic load: an unoptimised build calls
// std::atomic's load as a function, and a sample taken in that function's epilogue (its frame
// already popped) walks past this one.
static_assert(sizeof(std::atomic<bool>) == sizeof(bool));
extern "C" __attribute__((noinline)) void profilingSpinTarget(std::atomic<bool>* stop) {
  volatile std::uint64_t n = 0;
  while (!__atomic_load_n(reinterpret_cast<const bool*>(stop), __ATOMIC_RELAXED)) n = n + 1;
}

/// A thread spinning in profilingSpinTarget from construction until stop() or destruction.
class SpinningThread {
 public:
  SpinningThread()
      : thread_([this] {
          id_ = tid();
          profilingSpinTarget(&stop_);
        }) {
    while (id_ == 0) std::this_thread::yield();
  }
  ~SpinningThread() { stop(); }
  std::uint64_t id() const { return static_cast<std::uint64_t>(id_.load()); }
  void stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }

 private:
  std::atomic<bool> stop_{false};
  std::atomic<pid_t> id_{0};
  std::thread thread_;
};

bool taskListHas(pid_t thread) {
  return ::access(("/proc/self/task/" + std::to_string(thread)).c_str(), F_OK) == 0;
}

struct Collected {
  std::mutex lock;
  std::vector<Backtrace> backtraces;
};

TEST(ProfilingSamplerTests, RealJobIsSampledInItsFunctionAndTheSamplerLeavesNoThread) {
  Dl_info info{};
  void* entry = nullptr;
  ASSERT_NE(::dladdr1(reinterpret_cast<void*>(&profilingSpinTarget), &info, &entry, RTLD_DL_SYMENT), 0);
  const auto* symbol = static_cast<const ElfW(Sym)*>(entry);
  ASSERT_NE(symbol, nullptr);
  const auto low = reinterpret_cast<std::uint64_t>(info.dli_saddr);
  const std::uint64_t high = low + symbol->st_size;

  std::atomic<bool> stop{false};
  std::atomic<pid_t> worker{0}, own{0}, sleeper{0};
  std::thread workerThread([&] {
    ::pthread_setname_np(::pthread_self(), "spin worker");
    worker = tid();
    profilingSpinTarget(&stop);
  });
  std::thread ownThread([&] {
    ::pthread_setname_np(::pthread_self(), "io.dozidi.spin");
    own = tid();
    profilingSpinTarget(&stop);
  });
  std::mutex m;
  std::condition_variable cv;
  std::thread sleeperThread([&] {
    sleeper = tid();
    std::unique_lock lock(m);
    cv.wait(lock, [&] { return stop.load(); });
  });
  while (worker == 0 || own == 0 || sleeper == 0) std::this_thread::yield();

  Collected collected;
  auto profiler = SamplingProfiler::create(
      [&](const Backtrace& b) {
        std::lock_guard lock(collected.lock);
        collected.backtraces.push_back(b);
      },
      101);
  ASSERT_TRUE(profiler->isInitialized());
  profiler->startSampling();
  profiler->startSampling();  // a second start starts no second thread
  while (profiler->samplingThreadId() == 0) std::this_thread::yield();
  const pid_t samplerThread = profiler->samplingThreadId();
  // About 300 ms of wake-ups at 101 Hz, counted rather than slept for.
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (profiler->numSamples() < 30 && std::chrono::steady_clock::now() < giveUp) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  profiler->stopSampling();
  EXPECT_FALSE(profiler->isSampling());
  EXPECT_FALSE(taskListHas(samplerThread));
  profiler->stopSampling();  // stopping an idle sampler does nothing

  {
    std::lock_guard lock(m);
    stop = true;
  }
  cv.notify_all();
  workerThread.join();
  ownThread.join();
  sleeperThread.join();

  int workerSamples = 0, inTarget = 0, sleeperSamples = 0;
  for (const Backtrace& b : collected.backtraces) {
    const auto id = static_cast<pid_t>(b.threadMetadata.threadID);
    EXPECT_NE(id, samplerThread);
    EXPECT_NE(id, own.load());
    if (id == worker) {
      ++workerSamples;
      EXPECT_EQ(b.threadMetadata.name, "spin worker");
      for (std::uint64_t address : b.addresses) {
        if (address >= low && address < high) {
          ++inTarget;
          break;
        }
      }
    }
    if (id == sleeper) {
      ++sleeperSamples;
      EXPECT_TRUE(b.addresses.empty());
      EXPECT_EQ(b.threadMetadata.priority, -1);
    }
  }
  EXPECT_GE(sleeperSamples, 20);
#if defined(__SANITIZE_THREAD__)
  // The thread sanitizer holds a signal back until the thread reaches one of its own calls, and
  // then hands the handler the registers of the moment it arrived: a pure spin parks late, if at
  // all, and not where it is. The passes must still end at their deadline, which the sleeper's
  // samples above show.
  (void)inTarget;
#else
  EXPECT_GE(workerSamples, 20);
  EXPECT_GE(inTarget * 10, workerSamples * 9);
#endif
}

TEST(ProfilingSamplerTests, RunStateFromTheStatAndSyscallTexts) {
  struct Case {
    const char* text;
    bool running;
  };
  const Case cases[] = {
      {"12 (worker) R 1 12 12 0", true},
      {"12 (worker) S 1 12 12 0", false},
      {"12 (a) R) S 1 12 12 0", false},  // a name holding ") R": the state follows the last ')'
      {"12 (a) S) R 1 12 12 0", true},
      {"12 (worker)", false},  // cut short before the state
      {"12 worker R", false},
      {"", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(statTextShowsRunning(c.text, static_cast<long>(std::strlen(c.text))), c.running) << c.text;
  }
  // The syscall file names the call a sleeping thread waits in, or says "running".
  const Case syscallCases[] = {
      {"running\n", true},
      {"202 0x7f1c2e0 0x80 0x2 0x0 0x0 0x0 0x7ffd10 0x7f1c31\n", false},
      {"-1 0x7ffd10 0x7f1c31\n", false},
      {"runnin", false},
      {"", false},
  };
  for (const Case& c : syscallCases) {
    EXPECT_EQ(syscallTextShowsRunning(c.text, static_cast<long>(std::strlen(c.text))), c.running) << c.text;
  }
}

int openDescriptors() {
  int count = 0;
  for (int fd = 0; fd < 4096; ++fd) count += ::fcntl(fd, F_GETFD) != -1 ? 1 : 0;
  return count;
}

// A pass reads each thread's state through a file it keeps open: one per listed thread, closed
// once the thread is gone, all closed with the sampler. A thread started later, which may carry
// the id of one that ended, is read afresh.
TEST(ProfilingSamplerTests, StateFilesFollowTheThreadList) {
  const int before = openDescriptors();
  std::vector<std::uint64_t> sampled;
  auto profiler = SamplingProfiler::create([](const Backtrace&) {}, 101);
  ASSERT_TRUE(profiler->isInitialized());
  const int own = openDescriptors() - before;  // the timer and the wake
  const SamplingProfiler::Callback collect = [&](const Backtrace& b) {
    if (!b.addresses.empty()) sampled.push_back(b.threadMetadata.threadID);
  };

  std::mutex m;
  std::condition_variable cv;
  bool release = false;
  std::vector<std::thread> sleepers;
  std::atomic<pid_t> sleeperIds[4] = {};
  for (int i = 0; i < 4; ++i) {
    sleepers.emplace_back([&, i] {
      sleeperIds[i] = tid();
      std::unique_lock lock(m);
      cv.wait(lock, [&] { return release; });
    });
  }
  // The pass comes once every sleeper is asleep: one still on its way into the wait is running.
  const auto asleep = [](pid_t thread) {
    std::ifstream stat("/proc/self/task/" + std::to_string(thread) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const auto close = text.rfind(')');
    return close != std::string::npos && close + 2 < text.size() && text[close + 2] == 'S';
  };
  for (int i = 0; i < 4; ++i) {
    while (sleeperIds[i] == 0 || !asleep(sleeperIds[i])) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  profiler->samplePass(collect);
  const int withSleepers = openDescriptors();
  EXPECT_GE(withSleepers, before + own + 4);
  EXPECT_TRUE(sampled.empty());

  {
    std::lock_guard lock(m);
    release = true;
  }
  cv.notify_all();
  for (std::thread& thread : sleepers) thread.join();
  // A joined thread can stay listed for a moment while the kernel finishes its exit.
  profiler->samplePass(collect);
  for (int pass = 0; pass < 200 && openDescriptors() != withSleepers - 4; ++pass) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    profiler->samplePass(collect);
  }
  EXPECT_EQ(openDescriptors(), withSleepers - 4);

  SpinningThread spinner;
  // A spinning thread is running at almost every pass; a few passes allow for a loaded machine.
  for (int pass = 0; pass < 50 && sampled.empty(); ++pass) profiler->samplePass(collect);
  spinner.stop();
#if !defined(__SANITIZE_THREAD__)
  ASSERT_FALSE(sampled.empty());
  EXPECT_EQ(sampled.front(), spinner.id());
#endif
  profiler.reset();
  EXPECT_EQ(openDescriptors(), before);
}

// The sampling thread's two halves of a pass: nothing is handed over before the pass ends, a
// pass begun while another is open ends that one first, and ending twice hands over nothing more.
TEST(ProfilingSamplerTests, APassIsHandedOverWhenItEnds) {
  auto profiler = SamplingProfiler::create([](const Backtrace&) {}, 101);
  ASSERT_TRUE(profiler->isInitialized());
  SpinningThread spinner;
  int handed = 0;
  bool spinnerSampled = false;
  const SamplingProfiler::Callback collect = [&](const Backtrace& b) {
    ++handed;
    spinnerSampled = spinnerSampled || (b.threadMetadata.threadID == spinner.id() && !b.addresses.empty());
  };
  profiler->beginPass(collect);
  EXPECT_EQ(handed, 0);
  // A spinning thread is running at almost every pass; a few passes allow for a loaded machine.
  for (int pass = 0; pass < 50 && !spinnerSampled; ++pass) profiler->beginPass(collect);
  profiler->endPass(collect);
  const int afterEnd = handed;
  profiler->endPass(collect);
  EXPECT_EQ(handed, afterEnd);
  spinner.stop();
#if !defined(__SANITIZE_THREAD__)
  EXPECT_TRUE(spinnerSampled);
#endif
}

// What descriptor `fd` names, or empty when it is closed.
std::string fileOf(int fd) {
  char link[256];
  const std::string path = "/proc/self/fd/" + std::to_string(fd);
  const ssize_t n = ::readlink(path.c_str(), link, sizeof link);
  return n > 0 ? std::string(link, static_cast<std::size_t>(n)) : std::string();
}

// The descriptor that names `target`, or -1.
int descriptorOf(const std::string& target) {
  for (int fd = 0; fd < 4096; ++fd) {
    if (fileOf(fd) == target) return fd;
  }
  return -1;
}

// A program may close descriptors it did not open. A sampler whose kept task folder and a
// thread's state file were closed behind its back, their numbers now naming another file, lists
// and reads the threads from files opened anew and leaves the other files alone, open.
TEST(ProfilingSamplerTests, DescriptorsClosedBehindItsBackAreOpenedAnew) {
  const pid_t self = tid();
  std::atomic<bool> ready{false};
  std::atomic<bool> release{false};
  std::atomic<pid_t> other{0};
  std::thread sleeper([&] {
    other = tid();
    ready = true;
    while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  });
  while (!ready) std::this_thread::yield();
  std::set<std::uint64_t> seen;
  const SamplingProfiler::Callback collect = [&](const Backtrace& b) { seen.insert(b.threadMetadata.threadID); };
  auto profiler = SamplingProfiler::create([](const Backtrace&) {}, 101);
  profiler->samplePass(collect);
  const std::string task = "/proc/" + std::to_string(::getpid()) + "/task";
  const int taken[] = {descriptorOf(task), descriptorOf(task + "/" + std::to_string(other.load()) + "/syscall")};
  for (int fd : taken) {
    ASSERT_GE(fd, 0);
    const int devNull = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(devNull, 0);
    ASSERT_EQ(::dup2(devNull, fd), fd);
    ::close(devNull);
  }

  seen.clear();
  profiler->samplePass(collect);
  EXPECT_TRUE(seen.count(static_cast<std::uint64_t>(other.load())) == 1);
  EXPECT_TRUE(seen.count(static_cast<std::uint64_t>(self)) == 0);
  release = true;
  sleeper.join();
  // The sleeper's files are closed once it has left the list, and all with the sampler.
  for (int pass = 0; pass < 200 && descriptorOf(task + "/" + std::to_string(other.load()) + "/syscall") >= 0; ++pass) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    profiler->samplePass(collect);
  }
  profiler.reset();
  for (int fd : taken) {
    EXPECT_EQ(fileOf(fd), "/dev/null") << "the file that took number " << fd << " was closed";
    ::close(fd);
  }
}

// The thread list is read again only when the threads changed: a thread that ends while another
// starts leaves the number of threads as it was, and the new one must still be found. The ended
// one gives no sample once it has left the task list.
TEST(ProfilingSamplerTests, AThreadStartedWhileAnotherEndedIsFound) {
  auto profiler = SamplingProfiler::create([](const Backtrace&) {}, 101);
  ASSERT_TRUE(profiler->isInitialized());
  std::set<std::uint64_t> seen;
  const SamplingProfiler::Callback collect = [&](const Backtrace& b) { seen.insert(b.threadMetadata.threadID); };

  struct Sleeper {
    std::mutex m;
    std::condition_variable cv;
    bool release = false;
    std::atomic<pid_t> id{0};
    std::thread thread;
    void start() {
      thread = std::thread([this] {
        id = tid();
        std::unique_lock lock(m);
        cv.wait(lock, [this] { return release; });
      });
      while (id == 0) std::this_thread::yield();
    }
    void end() {
      {
        std::lock_guard lock(m);
        release = true;
      }
      cv.notify_all();
      thread.join();
      while (taskListHas(id)) std::this_thread::yield();
    }
  };
  Sleeper first, second;
  first.start();
  profiler->samplePass(collect);
  EXPECT_EQ(seen.count(static_cast<std::uint64_t>(first.id.load())), 1u);

  first.end();
  second.start();
  const auto secondId = static_cast<std::uint64_t>(second.id.load());
  const auto firstId = static_cast<std::uint64_t>(first.id.load());
  // The pass that finds the ended thread gone lists again for the next one.
  for (int pass = 0; pass < 2; ++pass) {
    seen.clear();
    profiler->samplePass(collect);
  }
  EXPECT_EQ(seen.count(secondId), 1u);
  if (firstId != secondId) {
    EXPECT_EQ(seen.count(firstId), 0u);
  }
  second.end();
}

// The first pass of a profile meets every thread for the first time: the identity of each is read
// with no thread asked, and each running thread is still sampled under its own name.
TEST(ProfilingSamplerTests, TheFirstPassSamplesEveryRunningThreadUnderItsName) {
  std::atomic<bool> stop{false};
  std::vector<std::thread> spinners;
  std::atomic<pid_t> ids[3] = {};
  for (int i = 0; i < 3; ++i) {
    spinners.emplace_back([&, i] {
      ::pthread_setname_np(::pthread_self(), ("first pass " + std::to_string(i)).c_str());
      ids[i] = tid();
      profilingSpinTarget(&stop);
    });
  }
  for (auto& id : ids) {
    while (id == 0) std::this_thread::yield();
  }
  // A loaded machine may keep a spinner off the processors past a pass's deadline: fresh
  // profilers until each spinner was sampled in some first pass.
  std::set<pid_t> named;
  for (int attempt = 0; attempt < 20 && named.size() < 3; ++attempt) {
    auto profiler = SamplingProfiler::create([](const Backtrace&) {}, 101);
    profiler->samplePass([&](const Backtrace& b) {
      for (int i = 0; i < 3; ++i) {
        if (b.threadMetadata.threadID != static_cast<std::uint64_t>(ids[i].load()) || b.addresses.empty()) continue;
        EXPECT_EQ(b.threadMetadata.name, "first pass " + std::to_string(i));
        named.insert(ids[i]);
      }
    });
  }
  stop = true;
  for (std::thread& thread : spinners) thread.join();
#if !defined(__SANITIZE_THREAD__)
  EXPECT_EQ(named.size(), 3u);
#endif
}

// Threads that allocate, free and write while a long profile runs: none deadlocks and no system
// call of theirs fails because a parking signal interrupted it.
TEST(ProfilingSamplerTests, BusyThreadsUnderProfilingNeitherDeadlockNorSeeInterruptedCalls) {
  int sink = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  ASSERT_GE(sink, 0);
  std::atomic<bool> stop{false};
  std::atomic<int> interrupted{0};
  std::atomic<long> rounds{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 16; ++t) {
    threads.emplace_back([&, t] {
      char buffer[256];
      std::memset(buffer, 'a' + t, sizeof buffer);
      while (!stop.load(std::memory_order_relaxed)) {
        std::vector<std::string> held;
        for (int i = 0; i < 32; ++i) held.emplace_back(static_cast<std::size_t>(64 + i * 8), 'x');
        void* block = std::malloc(4096 + static_cast<std::size_t>(t));
        std::free(block);
        if (::write(sink, buffer, sizeof buffer) < 0 && errno == EINTR) ++interrupted;
        ++rounds;
      }
    });
  }
  std::atomic<long> samples{0};
  auto profiler = SamplingProfiler::create([&](const Backtrace& b) { if (!b.addresses.empty()) ++samples; }, 101);
  profiler->startSampling();
  // A 2 s profile: on a loaded machine a pass over 16 busy threads may outlast the interval, so
  // the profile is timed rather than counted.
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  profiler->stopSampling();
  stop = true;
  for (std::thread& thread : threads) thread.join();
  ::close(sink);
  EXPECT_EQ(interrupted.load(), 0);
  EXPECT_GT(samples.load(), 0);
  EXPECT_GT(rounds.load(), 0);
}

}  // namespace
