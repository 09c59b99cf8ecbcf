// The crash child's allocator: glibc's, except that a thread which armed the trap (just before
// it crashes on purpose) ends the process with exit code 97 on any allocator call. The crash
// path must never allocate, so a test sees 97 instead of the expected signal when it does.
#include <execinfo.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>

#include "AllocationTrap.h"

extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* pointer, std::size_t size);
void __libc_free(void* pointer);
void* __libc_memalign(std::size_t alignment, std::size_t size);
}

namespace {

__thread bool t_armed = false;

void trip(const char* function) {
  if (!t_armed) return;
  const char prefix[] = "ALLOC_IN_CRASH_PATH ";
  (void)!write(2, prefix, sizeof(prefix) - 1);
  (void)!write(2, function, std::strlen(function));
  (void)!write(2, "\n", 1);
  // Where it happened, for the test's failure message (this writes without allocating).
  t_armed = false;
  void* frames[64];
  backtrace_symbols_fd(frames, backtrace(frames, 64), 2);
  _exit(kAllocationTrapExitCode);
}

}  // namespace

void allocationtrap_arm() { t_armed = true; }

extern "C" {

void* malloc(std::size_t size) {
  trip("malloc");
  return __libc_malloc(size);
}

void* calloc(std::size_t count, std::size_t size) {
  trip("calloc");
  return __libc_calloc(count, size);
}

void* realloc(void* pointer, std::size_t size) {
  trip("realloc");
  return __libc_realloc(pointer, size);
}

void free(void* pointer) {
  trip("free");
  __libc_free(pointer);
}

void* memalign(std::size_t alignment, std::size_t size) {
  trip("memalign");
  return __libc_memalign(alignment, size);
}

void* aligned_alloc(std::size_t alignment, std::size_t size) {
  trip("aligned_alloc");
  return __libc_memalign(alignment, size);
}

int posix_memalign(void** result, std::size_t alignment, std::size_t size) {
  trip("posix_memalign");
  void* pointer = __libc_memalign(alignment, size);
  if (pointer == nullptr) return 12;  // ENOMEM
  *result = pointer;
  return 0;
}

}  // extern "C"
