#include "AllocationCounter.h"

#include <atomic>
#include <cstdlib>

namespace {

std::atomic<bool> g_counting{false};
std::atomic<std::size_t> g_count{0};

void noteAllocation() {
  if (g_counting.load(std::memory_order_relaxed)) g_count.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace

namespace allocation_counter {

void start() {
  g_count.store(0);
  g_counting.store(true);
}

std::size_t stop() {
  g_counting.store(false);
  return g_count.load();
}

}  // namespace allocation_counter

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// The sanitizers own malloc; they report every allocation to an installed hook instead.
// Declared here: the sanitizer runtimes export it, but not every compiler ships its header.
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*mallocHook)(const volatile void*, std::size_t),
                                                         void (*freeHook)(const volatile void*));

namespace {
void onMalloc(const volatile void*, std::size_t) { noteAllocation(); }
void onFree(const volatile void*) {}
[[maybe_unused]] const int g_hooksInstalled = __sanitizer_install_malloc_and_free_hooks(onMalloc, onFree);
}  // namespace

#else
// Without a sanitizer the test program's own allocation functions take precedence over the C
// library's for every library in the process, the one under test included.
extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void* __libc_memalign(std::size_t, std::size_t);
void __libc_free(void*);

void* malloc(std::size_t size) {
  noteAllocation();
  return __libc_malloc(size);
}
void* calloc(std::size_t count, std::size_t size) {
  noteAllocation();
  return __libc_calloc(count, size);
}
void* realloc(void* pointer, std::size_t size) {
  noteAllocation();
  return __libc_realloc(pointer, size);
}
void* memalign(std::size_t alignment, std::size_t size) {
  noteAllocation();
  return __libc_memalign(alignment, size);
}
void* aligned_alloc(std::size_t alignment, std::size_t size) { return memalign(alignment, size); }
int posix_memalign(void** out, std::size_t alignment, std::size_t size) {
  void* pointer = memalign(alignment, size);
  if (pointer == nullptr) return 12;  // ENOMEM
  *out = pointer;
  return 0;
}
void free(void* pointer) { __libc_free(pointer); }
}
#endif
