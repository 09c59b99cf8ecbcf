#include "platform/kernel/SafeMemory.h"

#include "platform/kernel/Threads.h"
#include "platform/foundation/RetryOnInterrupt.h"

#include <fcntl.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace kernel {

namespace {

enum Method : int { Unknown = 0, VmRead = 1, ProbePipe = 2 };

std::atomic<int> gMethod{Unknown};
std::atomic<int> gPipeRead{-1};
std::atomic<int> gPipeWrite{-1};
std::atomic<bool> gPipeBusy{false};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free);

// One page per round trip: the pipe's buffer always holds it, so a write never blocks.
constexpr std::size_t kPipeChunk = 4096;

// Returns 1 for a full copy, 0 for an unreadable range, -1 when the call itself is refused.
int readWithVm(const void* source, void* destination, std::size_t length) {
  iovec local{destination, length};
  iovec remote{const_cast<void*>(source), length};
  const long n = foundation::retryOnInterrupt(
      [&] { return ::syscall(SYS_process_vm_readv, currentProcessId(), &local, 1UL, &remote, 1UL, 0UL); });
  if (n >= 0) return static_cast<std::size_t>(n) == length ? 1 : 0;
  if (errno == ENOSYS || errno == EPERM) return -1;
  return 0;
}

bool makePipe() {
  if (gPipeRead.load(std::memory_order_acquire) >= 0) return true;
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  int expected = -1;
  if (!gPipeWrite.compare_exchange_strong(expected, fds[1])) {
    ::close(fds[0]);
    ::close(fds[1]);
    return true;
  }
  gPipeRead.store(fds[0], std::memory_order_release);
  return true;
}

bool readWithPipe(const void* source, void* destination, std::size_t length) {
  int readEnd = gPipeRead.load(std::memory_order_acquire);
  int writeEnd = gPipeWrite.load(std::memory_order_acquire);
  if (readEnd < 0 || writeEnd < 0) return false;
  bool busy = false;
  if (!gPipeBusy.compare_exchange_strong(busy, true, std::memory_order_acquire)) return false;
  bool ok = true;
  auto* from = static_cast<const char*>(source);
  auto* to = static_cast<char*>(destination);
  while (ok && length > 0) {
    std::size_t chunk = length < kPipeChunk ? length : kPipeChunk;
    // The kernel reads the source for us: an unreadable page answers EFAULT instead of a fault.
    ssize_t written = ::write(writeEnd, from, chunk);
    if (written <= 0) {
      ok = false;
      break;
    }
    std::size_t got = 0;
    while (got < static_cast<std::size_t>(written)) {
      const ssize_t n = foundation::retryOnInterrupt(
          [&] { return ::read(readEnd, to + got, static_cast<std::size_t>(written) - got); });
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
    if (got != static_cast<std::size_t>(written) || static_cast<std::size_t>(written) != chunk) ok = false;
    from += chunk;
    to += chunk;
    length -= chunk;
  }
  // Leave the pipe empty for the next reader, whatever happened.
  char drain[256];
  while (::read(readEnd, drain, sizeof drain) > 0) {
  }
  gPipeBusy.store(false, std::memory_order_release);
  return ok;
}

}  // namespace

void prepareSafeReads() {
  if (gMethod.load() != Unknown) return;
  char probe = 0;
  static const char kProbeSource = 1;
  if (readWithVm(&kProbeSource, &probe, 1) == 1) {
    gMethod.store(VmRead);
    return;
  }
  if (makePipe()) gMethod.store(ProbePipe);
}

void useProbePipeForSafeReads(bool probePipe) {
  if (probePipe) {
    makePipe();
    gMethod.store(ProbePipe);
  } else {
    gMethod.store(Unknown);
    prepareSafeReads();
  }
}

bool copySafely(const void* source, void* destination, std::size_t length) {
  if (length == 0) return true;
  if (source == nullptr || destination == nullptr) return false;
  int method = gMethod.load(std::memory_order_relaxed);
  if (method != ProbePipe) {
    int result = readWithVm(source, destination, length);
    if (result >= 0) {
      if (method == Unknown) gMethod.store(VmRead, std::memory_order_relaxed);
      return result == 1;
    }
    // Refused: pipe2 is a plain system call, so switching here is still safe in a crash.
    if (!makePipe()) return false;
    gMethod.store(ProbePipe, std::memory_order_relaxed);
  }
  return readWithPipe(source, destination, length);
}

bool copySafelyEach(const SafeReadPart* parts, int count) {
  // One process_vm_readv reads up to this many ranges; the iovec arrays stay small on the stack.
  constexpr int kBatch = 64;
  int done = 0;
  if (gMethod.load(std::memory_order_relaxed) != ProbePipe) {
    while (done < count) {
      iovec local[kBatch];
      iovec remote[kBatch];
      int n = 0;
      std::size_t total = 0;
      for (; n < kBatch && done + n < count; ++n) {
        const SafeReadPart& part = parts[done + n];
        if (part.length > 0 && (part.source == nullptr || part.destination == nullptr)) return false;
        local[n] = iovec{part.destination, part.length};
        remote[n] = iovec{const_cast<void*>(part.source), part.length};
        total += part.length;
      }
      const long copied = foundation::retryOnInterrupt([&] {
        return ::syscall(SYS_process_vm_readv, currentProcessId(), local, static_cast<unsigned long>(n), remote,
                         static_cast<unsigned long>(n), 0UL);
      });
      // Refused by the kernel: the parts go one by one through the method copySafely chooses.
      if (copied < 0 && (errno == ENOSYS || errno == EPERM)) break;
      // The kernel stops at the first range it cannot read.
      if (copied < 0 || static_cast<std::size_t>(copied) != total) return false;
      done += n;
    }
  }
  for (; done < count; ++done) {
    if (!copySafely(parts[done].source, parts[done].destination, parts[done].length)) return false;
  }
  return true;
}

void touchPagesInPlace(void* begin, std::size_t length) {
  constexpr std::size_t kSmallestPage = 4096;
  auto* bytes = static_cast<unsigned char*>(begin);
  for (std::size_t offset = 0; offset < length; offset += kSmallestPage) {
    __atomic_fetch_or(bytes + offset, static_cast<unsigned char>(0), __ATOMIC_RELAXED);
  }
  // The last page, which the steps above miss when the range starts inside a page.
  if (length > 0) __atomic_fetch_or(bytes + length - 1, static_cast<unsigned char>(0), __ATOMIC_RELAXED);
}

}  // namespace kernel
