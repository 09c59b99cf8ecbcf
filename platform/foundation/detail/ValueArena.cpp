#include "platform/foundation/detail/ValueArena.h"

#include <algorithm>
#include <new>

namespace foundation::detail {

namespace {
// Chunks grow from 64 KiB to 4 MiB: a small document wastes little, a large one needs a few
// dozen allocations. Requests larger than a chunk get a chunk of their own.
constexpr std::size_t kFirstChunkSize = 64u << 10;
constexpr std::size_t kLargestChunkSize = 4u << 20;
constexpr std::size_t kAlignment = alignof(std::max_align_t);

constexpr std::size_t alignUp(std::size_t n) { return (n + kAlignment - 1) & ~(kAlignment - 1); }
}  // namespace

struct alignas(std::max_align_t) ValueArena::Chunk {
  Chunk* next;
};

ValueArena* ValueArena::create() { return new ValueArena(); }

ValueArena::~ValueArena() {
  while (chunks_) {
    Chunk* next = chunks_->next;
    ::operator delete(static_cast<void*>(chunks_));
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
  void* memory = ::operator new(size);
  auto* chunk = new (memory) Chunk{chunks_};
  chunks_ = chunk;
  char* start = reinterpret_cast<char*>(chunk + 1);
  // A chunk made for one large request leaves the current chunk's free space in use.
  if (size > nextChunkSize_) return start;
  next_ = start + bytes;
  end_ = static_cast<char*>(memory) + size;
  return start;
}

void ValueArena::release() noexcept {
  if (holders_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
}

void ValueArena::finishBuilding() noexcept {
  const std::uint64_t removed = kBuilderBias - allocations_;
  if (holders_.fetch_sub(removed, std::memory_order_acq_rel) == removed) delete this;
}

}  // namespace foundation::detail
