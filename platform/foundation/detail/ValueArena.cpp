#include "platform/foundation/detail/ValueArena.h"

#include <algorithm>
#include <bit>
#include <mutex>
#include <new>

namespace foundation::detail {

namespace {
// Chunks grow from 64 KiB to 4 MiB: a small document wastes little, a large one needs a few
// dozen allocations. Requests larger than a chunk get a chunk of their own.
constexpr std::size_t kFirstChunkSize = 64u << 10;
constexpr std::size_t kLargestChunkSize = 4u << 20;
constexpr std::size_t kAlignment = alignof(std::max_align_t);

// Chunks that a freed document gives back are kept, up to this many bytes, for the next
// documents. Fresh memory costs a page fault per page on first touch, which made up a fifth of
// building a large tree; a kept chunk is already mapped. Keeping them also spares the allocator
// the large requests that make it merge and trim its free small blocks (the strings of the last
// document), after which the next document's strings fault in fresh pages again. The bound
// keeps what an idle process holds small next to the documents it has just parsed.
// Under AddressSanitizer nothing is kept, so that a use of a freed document's memory is still
// caught.
#if defined(__SANITIZE_ADDRESS__)
constexpr std::size_t kKeptBytesLimit = 0;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr std::size_t kKeptBytesLimit = 0;
#else
constexpr std::size_t kKeptBytesLimit = 64u << 20;
#endif
#else
constexpr std::size_t kKeptBytesLimit = 64u << 20;
#endif
constexpr std::size_t kKeptChunkLimit = 32;

constexpr std::size_t alignUp(std::size_t n) { return (n + kAlignment - 1) & ~(kAlignment - 1); }
}  // namespace

struct alignas(std::max_align_t) ValueArena::Chunk {
  Chunk* next;
  std::size_t size;
};

namespace {

/// The kept chunks, shared by all threads (arenas may be freed on any thread). Chunks come in
/// a handful of sizes (the growth steps), and a chunk is taken only for its own size. Each
/// operation takes the lock once per chunk of at least 64 KiB, so it never contends in practice.
class KeptChunks {
 public:
  static KeptChunks& shared() {
    // Never destroyed: arenas may be freed by other static destructors at exit.
    static KeptChunks* const kept = new KeptChunks();
    return *kept;
  }

  void* take(std::size_t size) {
    std::lock_guard guard(lock_);
    for (std::size_t i = count_; i-- > 0;) {
      if (chunks_[i].size != size) continue;
      void* memory = chunks_[i].memory;
      chunks_[i] = chunks_[--count_];
      bytes_ -= size;
      return memory;
    }
    return nullptr;
  }

  /// False when the store is full; the caller then frees the chunk.
  bool keep(void* memory, std::size_t size) {
    std::lock_guard guard(lock_);
    if (count_ == kKeptChunkLimit || bytes_ + size > kKeptBytesLimit) return false;
    chunks_[count_++] = {memory, size};
    bytes_ += size;
    return true;
  }

 private:
  struct Kept {
    void* memory;
    std::size_t size;
  };
  std::mutex lock_;
  Kept chunks_[kKeptChunkLimit] = {};
  std::size_t count_ = 0;
  std::size_t bytes_ = 0;
};

}  // namespace

ValueArena* ValueArena::create() { return new ValueArena(); }

ValueArena::~ValueArena() {
  while (chunks_) {
    Chunk* next = chunks_->next;
    // Only chunks of the growth steps are kept: one made for a single large request is unlikely
    // to fit another.
    const std::size_t size = chunks_->size;
    const bool kept = size <= kLargestChunkSize && std::has_single_bit(size) &&
                      KeptChunks::shared().keep(chunks_, size);
    if (!kept) ::operator delete(static_cast<void*>(chunks_));
    chunks_ = next;
  }
}

void* ValueArena::allocate(std::size_t bytes) {
  bytes = alignUp(bytes);
  ++allocations_;
  if (static_cast<std::size_t>(end_ - next_) >= bytes) {
    void* p = next_;
    next_ += bytes;
    return p;
  }
  return allocateInNewChunk(bytes);
}

void* ValueArena::allocateInNewChunk(std::size_t bytes) {
  nextChunkSize_ = nextChunkSize_ == 0 ? kFirstChunkSize : std::min(nextChunkSize_ * 2, kLargestChunkSize);
  const std::size_t size = std::max(nextChunkSize_, bytes + sizeof(Chunk));
  void* memory = size <= kLargestChunkSize ? KeptChunks::shared().take(size) : nullptr;
  if (!memory) memory = ::operator new(size);
  auto* chunk = new (memory) Chunk{chunks_, size};
  chunks_ = chunk;
  char* start = reinterpret_cast<char*>(chunk + 1);
  // A chunk made for one large request leaves the current chunk's free space in use.
  if (size > nextChunkSize_) return start;
  next_ = start + bytes;
  end_ = static_cast<char*>(memory) + size;
  return start;
}

void ValueArena::release(std::uint64_t holders) noexcept {
  if (holders_.fetch_sub(holders, std::memory_order_acq_rel) == holders) delete this;
}

void ValueArena::finishBuilding() noexcept {
  const std::uint64_t removed = kBuilderBias - allocations_;
  if (holders_.fetch_sub(removed, std::memory_order_acq_rel) == removed) delete this;
}

}  // namespace foundation::detail
