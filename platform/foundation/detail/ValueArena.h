#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace foundation::detail {

/// Memory for the container blocks of one parsed document, handed out from a few large chunks.
/// A document of hundreds of thousands of small arrays and dictionaries then costs a handful of
/// allocations to build and to free instead of one each.
///
/// Only the thread that builds the document allocates. Every block taken from the arena holds it;
/// blocks may be released on any thread, and the release of the last holder frees all chunks at
/// once. Blocks outlive the builder when the document is kept, so the arena frees itself.
/// Freed chunks of the usual sizes are kept, up to 64 MiB in the process, for the arenas of the
/// next documents (except under AddressSanitizer).
class ValueArena {
 public:
  /// A new arena held by its builder until finishBuilding().
  static ValueArena* create();

  ValueArena(const ValueArena&) = delete;
  ValueArena& operator=(const ValueArena&) = delete;

  /// `bytes` of memory aligned for any container block; each call adds one holder, to be ended
  /// by release(). Builder thread only.
  void* allocate(std::size_t bytes);
  /// Ends `holders` holders; the last frees the arena.
  void release(std::uint64_t holders = 1) noexcept;
  /// Ends the builder's hold: the arena now lives exactly as long as its blocks.
  void finishBuilding() noexcept;

 private:
  struct Chunk;
  ValueArena() = default;
  ~ValueArena();
  void* allocateInNewChunk(std::size_t bytes);

  // While the document is built, holders_ carries a large bias in place of the builder's own
  // hold and allocate() counts its blocks in a plain integer, so that building pays no atomic
  // operation per block; finishBuilding() trades the bias for that count.
  static constexpr std::uint64_t kBuilderBias = std::uint64_t{1} << 62;
  std::atomic<std::uint64_t> holders_{kBuilderBias};
  std::uint64_t allocations_ = 0;
  Chunk* chunks_ = nullptr;
  char* next_ = nullptr;
  char* end_ = nullptr;
  std::size_t nextChunkSize_ = 0;
};

}  // namespace foundation::detail
