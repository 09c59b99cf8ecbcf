#pragma once
#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>

#include "platform/foundation/detail/ValueArena.h"

namespace foundation::detail {

/// A reference-counted block holding its header `Derived` and then `capacity` elements of type
/// `Element`, in one allocation: the storage of the copy-on-write containers. `Derived` may add
/// members and an `afterCopy()` step (a dictionary rebuilds its key index there). A block made by
/// the JSON reader lives in its document's arena (`arena` is set); every other block, including
/// each copy or growth of an arena block, is allocated on its own. `Derived::freeArenaBlocks`
/// destroys an arena block whose last holder has gone and gives how many of the arena's blocks
/// that freed (it may free the unshared blocks below it in the same pass), so that the arena's
/// count drops once per tree rather than once per block.
template <class Derived, class Element>
struct SharedBlock {
  std::atomic<std::size_t> references{1};
  std::uint32_t count = 0;
  std::uint32_t capacity = 0;
  ValueArena* arena = nullptr;

  Element* elements() { return reinterpret_cast<Element*>(static_cast<Derived*>(this) + 1); }
  const Element* elements() const {
    return reinterpret_cast<const Element*>(static_cast<const Derived*>(this) + 1);
  }

  bool isShared() const { return references.load(std::memory_order_acquire) != 1; }
  void afterCopy() {}

  static Derived* allocate(std::size_t capacity) {
    void* memory = ::operator new(sizeof(Derived) + capacity * sizeof(Element));
    auto* block = new (memory) Derived();
    block->capacity = static_cast<std::uint32_t>(capacity);
    return block;
  }

  static Derived* allocateIn(ValueArena& arena, std::size_t capacity) {
    void* memory = arena.allocate(sizeof(Derived) + capacity * sizeof(Element));
    auto* block = new (memory) Derived();
    block->capacity = static_cast<std::uint32_t>(capacity);
    block->arena = &arena;
    return block;
  }

  static void retain(Derived* block) {
    if (block) block->references.fetch_add(1, std::memory_order_relaxed);
  }

  static void release(Derived* block) {
    if (!block) return;
    // A count of one means no other holder exists that could add one concurrently, so the last
    // holder frees the block without an atomic write; most blocks of a freed tree are unshared.
    if (block->references.load(std::memory_order_acquire) != 1 &&
        block->references.fetch_sub(1, std::memory_order_acq_rel) != 1) {
      return;
    }
    if (ValueArena* arena = block->arena) {
      arena->release(Derived::freeArenaBlocks(block));
      return;
    }
    destroyElements(block);
    block->~Derived();
    ::operator delete(block);
  }

  static void destroyElements(Derived* block) {
    Element* e = block->elements();
    for (std::uint32_t i = 0; i < block->count; ++i) e[i].~Element();
  }

  /// A fresh, unshared block with the elements of `from`, moved when `from` is not shared.
  static Derived* copyOf(Derived* from, std::size_t capacity, bool move) {
    Derived* block = allocate(std::max<std::size_t>(capacity, from->count));
    Element* src = from->elements();
    Element* dst = block->elements();
    for (std::uint32_t i = 0; i < from->count; ++i) {
      if (move) {
        new (dst + i) Element(std::move(src[i]));
      } else {
        new (dst + i) Element(src[i]);
      }
      block->count = i + 1;
    }
    block->afterCopy();
    return block;
  }

  /// The block of `slot` made writable by its one holder with room for `minimumCapacity`
  /// elements: created when missing (at least 4), copied when shared, grown by doubling.
  static Derived& writable(Derived*& slot, std::size_t minimumCapacity) {
    if (!slot) {
      slot = allocate(std::max<std::size_t>(minimumCapacity, 4));
      return *slot;
    }
    const bool shared = slot->isShared();
    if (shared || slot->capacity < minimumCapacity) {
      std::size_t capacity = slot->capacity;
      while (capacity < minimumCapacity) capacity = std::max<std::size_t>(capacity * 2, 4);
      Derived* fresh = copyOf(slot, capacity, !shared);
      release(slot);
      slot = fresh;
    }
    return *slot;
  }

  /// Exactly `capacity` elements for an empty slot (readers know their sizes up front);
  /// otherwise as writable().
  static void reserve(Derived*& slot, std::size_t capacity) {
    if (!slot) {
      if (capacity > 0) slot = allocate(capacity);
      return;
    }
    writable(slot, capacity);
  }

  /// Assignment of one holder's block to another's slot.
  static void assign(Derived*& slot, Derived* other) {
    retain(other);
    release(slot);
    slot = other;
  }
  static void moveAssign(Derived*& slot, Derived*& other) {
    if (&slot == &other) return;
    release(slot);
    slot = other;
    other = nullptr;
  }
};

}  // namespace foundation::detail
